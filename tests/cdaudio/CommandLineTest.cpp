// "/G" or "-G" on the command line, in any case, makes the readers reach the
// drives by letter (IOCTL mode). The flag is looked up once per process, so
// each case runs the test executable anew with its own command line.
#include <gtest/gtest.h>

#include <cstdlib>

#include "CDAudioFixtures.h"
#include "support/TestSupport.h"

namespace cdaudio_tests {
namespace {

std::string ThisExecutable() {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, sizeof path);
    return path;
}

// Exit code of the child's run of CommandLineChild with these extra words.
DWORD RunChild(const std::string& words, bool expectIoctl) {
    ::SetEnvironmentVariableA("WC_CDAUDIO_EXPECT_IOCTL", expectIoctl ? "1" : "0");
    testing_support::ChildProcess child(ThisExecutable(),
                                        "--gtest_also_run_disabled_tests --gtest_filter=CommandLineChild.* " + words,
                                        testing_support::ProgramDir());
    EXPECT_TRUE(child.Wait(std::chrono::seconds(60)));
    DWORD code = 99;
    ::GetExitCodeProcess(child.handle(), &code);
    ::SetEnvironmentVariableA("WC_CDAUDIO_EXPECT_IOCTL", nullptr);
    return code;
}

// Runs only in a child started by the cases below.
TEST(CommandLineChild, DISABLED_ReportsWhetherTheDrivesAreReachedByLetter) {
    const char* expect = std::getenv("WC_CDAUDIO_EXPECT_IOCTL");
    ASSERT_NE(expect, nullptr);
    const bool ioctl = std::string(expect) == "1";
    EXPECT_EQ(CDCommandLinePrefersIoctl(), ioctl);
    wc::TComponent root(nullptr);
    TMMCDReader& reader = wc::MakeComponent<TMMCDReader>(root);
    ASSERT_NE(reader.Context(), nullptr);
    EXPECT_EQ(reader.Context()->ioctlMode, ioctl);
    EXPECT_EQ(reader.Context()->aspiMode, !ioctl);
}

TEST(CommandLineTest, SlashGOrDashGInAnyCasePrefersDriveLetters) {
    EXPECT_EQ(RunChild("/G", true), 0u);
    EXPECT_EQ(RunChild("-g", true), 0u);
}

TEST(CommandLineTest, OtherWordsLeaveTheAspiManagerInUse) {
    EXPECT_EQ(RunChild("/Go -x G", false), 0u);
    EXPECT_FALSE(CDCommandLinePrefersIoctl()) << "this run has no /G";
}

}  // namespace
}  // namespace cdaudio_tests
