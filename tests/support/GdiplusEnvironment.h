// GDI+ for the whole test program, as the program entry has it: a test
// program that draws through GDI+ includes this header (once is enough).
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "controls/AdvGDIP.h"

namespace testing_support {

class GdiplusEnvironment : public ::testing::Environment {
public:
    void SetUp() override { session_ = std::make_unique<TGdiplusSession>(); }
    void TearDown() override { session_.reset(); }

private:
    std::unique_ptr<TGdiplusSession> session_;
};

inline const ::testing::Environment* const kGdiplus = ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

}  // namespace testing_support
