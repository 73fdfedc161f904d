// GDI+ for the whole test program, as the program entry has it.
#include <gtest/gtest.h>

#include "controls/AdvGDIP.h"

namespace {

class GdiplusEnvironment : public testing::Environment {
public:
    void SetUp() override { session_ = std::make_unique<TGdiplusSession>(); }
    void TearDown() override { session_.reset(); }

private:
    std::unique_ptr<TGdiplusSession> session_;
};

const testing::Environment* const kGdiplus = testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

}  // namespace
