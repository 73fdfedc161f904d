#include "VirtualDriveFixture.h"

#include <algorithm>

void VirtualDriveTest::SetUp() {
    // The virtual drive is the ASPI manager only when Wine was told to load
    // it instead of its own (WINEDLLOVERRIDES in the CTest test).
    ASSERT_TRUE(drive_.loaded()) << "WNASPI32.DLL here is not the virtual drive; run through CTest";
    CDSetPlatform(nullptr);
}

void VirtualDriveTest::TearDown() {
    cdDone(context_);
    CDSetPlatform(nullptr);
}

void VirtualDriveTest::Start(const std::string& description) {
    ASSERT_TRUE(drive_.Describe(description));
    cdDone(context_);
    int status = 1;
    bool ioctl = false;
    context_ = cdInit(status, ioctl);
    ASSERT_TRUE(context_);
    ASSERT_EQ(status, 0);
    ASSERT_FALSE(ioctl);
    ASSERT_TRUE(context_->aspiMode);
    Mark();
}

std::vector<VirtualDriveLogRecord> VirtualDriveTest::Since() const {
    std::vector<VirtualDriveLogRecord> all = drive_.Log();
    return std::vector<VirtualDriveLogRecord>(all.begin() + std::ptrdiff_t(std::min(mark_, all.size())), all.end());
}
