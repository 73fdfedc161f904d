// cmCallback is for Windows 95 alone: the wave output asks the system which
// it is. Wine tells one program that it runs on Windows 95 when its file
// name is listed so in Wine's registry, which lets a copy of this program
// see the other side of the decision.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "framework/Files.h"
#include "media/playback/MMWavOut.h"
#include "support/DialogDriver.h"
#include "support/Registry.h"
#include "support/TestSupport.h"

namespace waveout_tests {
namespace {

// Set in the copy of this program that is started reported as Windows 95.
const char* const CopyVariable = "WC_WAVEOUT_WINDOWS95_COPY";

bool ReportsWindows95() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!::GetVersionExA(&info)) return false;
#pragma GCC diagnostic pop
    return info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS && info.dwMajorVersion == 4 && info.dwMinorVersion == 0;
}

// The copy's part: the mode is taken, and no message box comes up.
void ExpectCallbackModeAccepted() {
    ASSERT_TRUE(ReportsWindows95()) << "the copy was started, but the system does not report Windows 95 to it";
    TMMWaveOut out(nullptr);
    bool boxShown = false;
    testing_support::RunDriven([&] { out.SetCallBackMode(cmCallback); return true; }, testing_support::PressOk,
                               &boxShown);
    EXPECT_EQ(out.CallBackMode(), cmCallback);
    EXPECT_FALSE(boxShown) << "the refusal was shown on Windows 95";
}

TEST(WaveOutCallbackMode, AProgramTheSystemReportsAsWindows95TakesCallbackModeWithoutTheMessage) {
    if (std::getenv(CopyVariable)) {
        ExpectCallbackModeAccepted();
        return;
    }
    if (ReportsWindows95()) {
        ExpectCallbackModeAccepted();
        return;
    }
    HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    if (!ntdll || !::GetProcAddress(ntdll, "wine_get_version"))
        GTEST_SKIP() << "not Wine: only Wine can be told to report Windows 95 to one program";
    const std::string folder = testing_support::ProgramDir();
    const std::string copyName = "waveout_windows95.exe";
    const std::string copy = folder + "\\" + copyName;
    ASSERT_TRUE(testing_support::CopyFileTo(wc::ExecutablePath(), copy));
    struct RemoveCopy {
        std::string path;
        ~RemoveCopy() { ::DeleteFileA(path.c_str()); }
    } removeCopy{copy};
    auto version = testing_support::RegistryOverride::Text(
        HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\" + copyName, "Version", "win95");
    ::SetEnvironmentVariableA(CopyVariable, "1");
    testing_support::ChildProcess child(
        copy, "--gtest_color=no --gtest_filter=WaveOutCallbackMode.AProgramTheSystemReportsAsWindows95*", folder);
    ::SetEnvironmentVariableA(CopyVariable, nullptr);
    ASSERT_TRUE(child.Wait(std::chrono::seconds(60))) << "the copy did not end";
    DWORD code = 1;
    ::GetExitCodeProcess(child.handle(), &code);
    EXPECT_EQ(code, 0u) << "the copy reported Windows 95 did not take cmCallback (its output is above)";
}

}  // namespace
}  // namespace waveout_tests
