// TMMCDDrives: the CD-ROM drive letters of the system and their lock counts.
#include <gtest/gtest.h>

#include "CDAudioFixtures.h"

namespace cdaudio_tests {
namespace {

TEST(CDDrivesTest, ListsExactlyTheLettersDToZTheSystemCallsCdRom) {
    std::vector<std::string> expected;
    for (char letter = 'D'; letter <= 'Z'; ++letter) {
        const char root[] = {letter, ':', '\\', 0};
        if (::GetDriveTypeA(root) == DRIVE_CDROM) expected.push_back(std::string(1, letter));
    }
    ASSERT_NE(std::find(expected.begin(), expected.end(), "X"), expected.end())
        << "X: is not a CD-ROM drive in this Wine prefix; scripts/env.sh maps it before the server starts";
    EXPECT_EQ(CDDrives().Letters().Items(), expected);
    EXPECT_EQ(TMMCDDrives().Letters().Items(), expected);
    EXPECT_EQ(CDDrives().IndexOf('C'), -1) << "the system drive is no CD-ROM drive";
    EXPECT_GE(CDDrives().IndexOf('X'), 0);
    EXPECT_EQ(CDDrives().IndexOf('x'), CDDrives().IndexOf('X'));
}

TEST(CDDrivesTest, LockCountsGoUpAndDownButNeverBelowZero) {
    TMMCDDrives drives;
    ASSERT_GE(drives.IndexOf('X'), 0);
    EXPECT_EQ(drives.IncLockCount('X'), 1);
    EXPECT_EQ(drives.IncLockCount('x'), 2);
    EXPECT_EQ(drives.LockCount('X'), 2);
    EXPECT_EQ(drives.DecLockCount('X'), 1);
    EXPECT_EQ(drives.DecLockCount('X'), 0);
    EXPECT_EQ(drives.DecLockCount('X'), -1);
    EXPECT_EQ(drives.LockCount('X'), 0);
}

TEST(CDDrivesTest, UnknownLettersAnswerMinusOne) {
    TMMCDDrives drives;
    EXPECT_EQ(drives.IncLockCount('C'), -1);
    EXPECT_EQ(drives.DecLockCount('C'), -1);
    EXPECT_EQ(drives.IncLockCount('?'), -1);
    EXPECT_EQ(drives.LockCount('C'), -1);
}

}  // namespace
}  // namespace cdaudio_tests
