// Playback from the panel, seen from outside the panel: the buffers the wave
// output device is given, the play position line on the screen, the check
// boxes, what is left when the dialog closes, and a system without a wave
// output device.
#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <msacm.h>
#include <tlhelp32.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "SystemCallWatch.h"
#include "WaveDialogFixture.h"
#include "WaveFixtures.h"
#include "support/WavePanel.h"
#include "framework/Handles.h"
#include "support/DialogDriver.h"
#include "support/Registry.h"
#include "support/TestSupport.h"

using namespace wavedialog_tests;
using namespace testing_support;
using namespace std::chrono_literals;

namespace {

constexpr uint32_t kLocatorXor = Rgb(255, 0, 0);  // LocatorColor, red

// The buffer of the first write after Play, and Stop again.
DWORD PlayedBufferLength(HWND frame, SystemCallWatch& watch) {
    HWND play = PanelControl(frame, kPlay);
    watch.ClearWrites();
    PressButton(Panel(frame), kPlay);
    WaitUntil([&] { return !watch.Writes().empty(); }, 3000ms);
    const std::vector<DWORD> writes = watch.Writes();
    PressButton(Panel(frame), kPlay);
    WaitUntil([&] { return TextOf(play) == "Play"; }, 3000ms);
    return writes.empty() ? 0 : writes.front();
}

// The column of the play position line: the one column of the area's inner
// rectangle (inside the two bevels) whose rows from the top to the bottom
// less one show `before` XOR LocatorColor, everything else as `before`; -1
// when the picture is not of that kind.
int LocatorColumn(const Pixels& now, const Pixels& before) {
    if (now.width != before.width || now.height != before.height || now.width < 8) return -1;
    const RECT inner{2, 2, now.width - 2, now.height - 2};
    int found = -1;
    for (int x = 0; x < now.width; ++x) {
        bool same = true, line = x >= inner.left && x < inner.right;
        for (int y = 0; y < now.height; ++y) {
            const bool onLine = y >= inner.top && y < inner.bottom - 1;
            same = same && now.At(x, y) == before.At(x, y);
            line = line && now.At(x, y) == (onLine ? before.At(x, y) ^ kLocatorXor : before.At(x, y));
        }
        if (same) continue;
        if (!line || found >= 0) return -1;
        found = x;
    }
    return found;
}

std::set<DWORD> ThreadsOfThisProcess() {
    std::set<DWORD> threads;
    wc::FileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) return threads;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry))
        if (entry.th32OwnerProcessID == ::GetCurrentProcessId()) threads.insert(entry.th32ThreadID);
    return threads;
}

// Waits up to 3 s for every thread of this process to be one of `known`; the threads left over.
std::set<DWORD> ThreadsBeyond(const std::set<DWORD>& known) {
    std::set<DWORD> extra;
    WaitUntil([&] {
        extra.clear();
        for (DWORD id : ThreadsOfThisProcess())
            if (!known.count(id)) extra.insert(id);
        return extra.empty();
    }, 3000ms);
    return extra;
}

// Whether the system's codec manager converts this format to 16-bit PCM
// (asked directly, not through the wave output).
bool CodecManagerDecodes(const WAVEFORMATEX* format) {
    HMODULE acm = ::LoadLibraryA("msacm32.dll");
    if (!acm) return false;
    using StreamOpen = MMRESULT(WINAPI*)(LPHACMSTREAM, HACMDRIVER, LPWAVEFORMATEX, LPWAVEFORMATEX, LPWAVEFILTER,
                                         DWORD_PTR, DWORD_PTR, DWORD);
    auto open = reinterpret_cast<StreamOpen>(reinterpret_cast<void*>(::GetProcAddress(acm, "acmStreamOpen")));
    WAVEFORMATEX pcm{};
    pcm.wFormatTag = WAVE_FORMAT_PCM;
    pcm.nChannels = format->nChannels;
    pcm.nSamplesPerSec = format->nSamplesPerSec;
    pcm.wBitsPerSample = 16;
    pcm.nBlockAlign = WORD(pcm.nChannels * 2);
    pcm.nAvgBytesPerSec = pcm.nSamplesPerSec * pcm.nBlockAlign;
    const bool decodes = open && open(nullptr, nullptr, const_cast<WAVEFORMATEX*>(format), &pcm, nullptr, 0, 0,
                                      ACM_STREAMOPENF_QUERY) == MMSYSERR_NOERROR;
    ::FreeLibrary(acm);
    return decodes;
}

}  // namespace

TEST_F(WaveDialogRun, AutoPlayStopsThePlayingFileAndStartsTheNewSelection) {
    dialog_.AutoPlay = true;
    SystemCallWatch watch;
    ASSERT_TRUE(watch.Complete());
    std::vector<std::string> captions;
    std::vector<DWORD> newWrites;
    int opened = 0, openNow = 0;
    bool autoPlayChecked = false;
    RunDriven(dialog_, [&](HWND frame) {
        HWND play = PanelControl(frame, kPlay);
        autoPlayChecked = IsChecked(PanelControl(frame, kAutoPlay));
        Select(frame, "a_");
        WaitUntil([&] { return TextOf(play) == "Stop"; }, 3000ms);
        TextLog log(play);
        watch.ClearWrites();
        Select(frame, "k_");
        WaitUntil([&] { return TextOf(play) == "Stop" && !watch.Writes().empty(); }, 3000ms);
        ::Sleep(200);
        captions = log.Texts();
        newWrites = watch.Writes();
        opened = watch.DeviceOpens();
        openNow = watch.OpenDevices();
    });
    EXPECT_TRUE(autoPlayChecked);
    EXPECT_EQ(captions, (std::vector<std::string>{"Play", "Stop"})) << "stopped by the selection, started again";
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(openNow, 1);
    ASSERT_FALSE(newWrites.empty());
    // k_pcm22.wav: 22050 Hz counts in the 1024-byte step, 16-bit samples double it.
    EXPECT_EQ(newWrites.back(), 2048u) << "the buffers are those of the new file";
}

TEST_F(WaveDialogRun, PlayComesUpForAnImaAdpcmFileWhenTheSystemDecodesItAndPlaysIt) {
    const std::vector<uint8_t> bytes = MakeImaAdpcmWave(40);
    const auto* format = reinterpret_cast<const WAVEFORMATEX*>(bytes.data() + 20);
    ASSERT_GT(::waveOutGetNumDevs(), 0u) << "the test's sound device (tests.cmake)";
    // The wave output maps the format through the codec manager's decoders.
    const bool decodes = CodecManagerDecodes(format);
    bool play = !decodes;
    std::string caption;
    int64_t playedBefore = -1, playedAfter = -1;
    RunDriven(dialog_, [&](HWND frame) {
        HWND playButton = PanelControl(frame, kPlay);
        Select(frame, "b_");
        play = Enabled(frame, kPlay);
        if (!play) return;
        PressButton(Panel(frame), kPlay);
        WaitUntil([&] { return TextOf(playButton) == "Stop"; }, 3000ms);
        caption = TextOf(playButton);
        // The device's file starts afresh when the device opens: it grows from there.
        playedBefore = FileBytes(PlayedFile());
        WaitUntil([&] { return FileBytes(PlayedFile()) > std::max<int64_t>(playedBefore, 0); }, 3000ms);
        playedAfter = FileBytes(PlayedFile());
    });
    EXPECT_EQ(play, decodes);
    if (decodes) {
        EXPECT_EQ(caption, "Stop");
        EXPECT_GT(playedAfter, std::max<int64_t>(playedBefore, 0)) << "bytes reached the device";
    }
}

TEST_F(WaveDialogRun, OutputBufferFollowsEachFilesFormatHoweverOftenAHighRateFileIsSelected) {
    // Above 48000 Hz the size was kept and scaled again: it doubled with every selection of such a file.
    WriteFileBytes(dir_ / "o_rate64k.wav", MakePcmWave(2, 64000, 16, MakeTestSamples16(2, 64000)));
    WriteFileBytes(dir_ / "q_rate96k.wav", MakePcmWave(2, 96000, 16, MakeTestSamples16(2, 96000)));
    SystemCallWatch watch;
    ASSERT_TRUE(watch.Complete());
    std::vector<DWORD> high;
    DWORD cd = 0, telephone = 0;
    RunDriven(dialog_, [&](HWND frame) {
        for (const char* prefix : {"o_", "a_", "o_", "k_", "o_", "q_", "o_"}) {
            Select(frame, prefix);
            const DWORD length = PlayedBufferLength(frame, watch);
            if (prefix[0] == 'o') high.push_back(length);
            if (prefix[0] == 'a') cd = length;
            if (prefix[0] == 'k') telephone = length;
        }
    });
    // From the panel's table: 44100 Hz 16-bit 6144 bytes; 22050 Hz, 16-bit: 1024 doubled.
    EXPECT_EQ(cd, 6144u);
    EXPECT_EQ(telephone, 2048u);
    ASSERT_EQ(high.size(), 4u);
    EXPECT_GT(high[0], 0u);
    for (size_t i = 1; i < high.size(); ++i) EXPECT_EQ(high[i], high[0]) << "selection " << i + 1 << " of the 64 kHz file";
}

TEST_F(WaveDialogRun, PlayPositionLineIsDrawnInXorMovesAndIsErasedOnStop) {
    dialog_.Preview = true;
    Pixels before, after;
    int first = -1, later = -1;
    bool stopped = false;
    RunDriven(dialog_, [&](HWND frame) {
        HWND area = PanelControl(frame, kWaveArea), play = PanelControl(frame, kPlay);
        Select(frame, "a_");
        ::Sleep(300);
        before = CaptureClient(area);
        PressButton(Panel(frame), kPlay);
        if (!WaitUntil([&] { return TextOf(play) == "Stop"; }, 3000ms)) return;
        WaitUntil([&] { return (first = LocatorColumn(CaptureClient(area), before)) >= 0; }, 2000ms);
        ::Sleep(600);
        WaitUntil([&] { return (later = LocatorColumn(CaptureClient(area), before)) > first; }, 2000ms);
        PressButton(Panel(frame), kPlay);
        stopped = WaitUntil([&] { return TextOf(play) == "Play"; }, 3000ms);
        ::Sleep(100);
        after = CaptureClient(area);
    });
    ASSERT_GT(before.width, 20);
    ASSERT_TRUE(before.Contains(kGreen)) << "the waveform is drawn";
    EXPECT_GE(first, 2) << "one column of the area shows the waveform XOR the locator colour";
    EXPECT_GT(later, first) << "the line moves on as the file plays";
    EXPECT_TRUE(stopped);
    EXPECT_TRUE(after.rgb == before.rgb) << "drawn again in XOR, the line is gone";
}

TEST_F(WaveDialogRun, PreviewCheckBoxDrawsAndHidesTheWaveformAndTickingItStopsPlayback) {
    std::vector<bool> green;
    std::string captionAfterUntick, captionAfterTick;
    bool clicks = true;
    RunDriven(dialog_, [&](HWND frame) {
        HWND area = PanelControl(frame, kWaveArea), box = PanelControl(frame, kPreview);
        HWND play = PanelControl(frame, kPlay);
        Select(frame, "a_");  // 3 s long
        green.push_back(CaptureClient(area).Contains(kGreen));
        clicks = clicks && ClickCheckBox(box, true);
        ::Sleep(300);
        green.push_back(CaptureClient(area).Contains(kGreen));
        PressButton(Panel(frame), kPlay);
        WaitUntil([&] { return TextOf(play) == "Stop"; }, 3000ms);
        clicks = clicks && ClickCheckBox(box, false);
        ::Sleep(300);
        green.push_back(CaptureClient(area).Contains(kGreen));
        captionAfterUntick = TextOf(play);
        clicks = clicks && ClickCheckBox(box, true);
        WaitUntil([&] { return TextOf(play) == "Play"; }, 3000ms);
        captionAfterTick = TextOf(play);
        ::Sleep(300);
        green.push_back(CaptureClient(area).Contains(kGreen));
    });
    ASSERT_TRUE(clicks);
    EXPECT_EQ(green, (std::vector<bool>{false, true, false, true})) << "off, ticked, unticked, ticked";
    EXPECT_EQ(captionAfterUntick, "Stop") << "unticking leaves playback alone";
    EXPECT_EQ(captionAfterTick, "Play") << "ticking closes playback before the drawing";
    EXPECT_TRUE(dialog_.Preview) << "the property follows the box";
}

TEST_F(WaveDialogRun, AutoPlayCheckBoxStartsAndStopsTheSelectedFile) {
    std::string ticked, unticked, nextSelection;
    bool clicks = true;
    RunDriven(dialog_, [&](HWND frame) {
        HWND box = PanelControl(frame, kAutoPlay), play = PanelControl(frame, kPlay);
        Select(frame, "a_");
        clicks = clicks && ClickCheckBox(box, true);
        WaitUntil([&] { return TextOf(play) == "Stop"; }, 3000ms);
        ticked = TextOf(play);
        clicks = clicks && ClickCheckBox(box, false);
        WaitUntil([&] { return TextOf(play) == "Play"; }, 3000ms);
        unticked = TextOf(play);
        Select(frame, "k_");
        ::Sleep(300);
        nextSelection = TextOf(play);
    });
    ASSERT_TRUE(clicks);
    EXPECT_EQ(ticked, "Stop") << "ticked with a file selected: it plays";
    EXPECT_EQ(unticked, "Play") << "unticked: playback closes";
    EXPECT_EQ(nextSelection, "Play") << "unticked: a new selection does not play";
    EXPECT_FALSE(dialog_.AutoPlay) << "the property follows the box";
}

TEST_F(WaveDialogRun, ClosingTheDialogLeavesNoDeviceFileOrThreadOfThePanel) {
    // 20 MiB of samples: a wave this large is scanned by two workers, each through a wave of its own.
    WriteFileBytes(dir_ / "p_large.wav", MakePcmWave(2, 44100, 16, MakeTestSamples16(2, 5 << 20, 3)));
    dialog_.Preview = true;
    SystemCallWatch watch;
    ASSERT_TRUE(watch.Complete());
    // Wine starts the threads of its audio service with the first device opened; they stay.
    RunDriven(dialog_, [&](HWND frame) {
        Select(frame, "a_");
        PressButton(Panel(frame), kPlay);
        WaitUntil([&] { return TextOf(PanelControl(frame, kPlay)) == "Stop"; }, 3000ms);
    });
    const std::set<DWORD> known = ThreadsOfThisProcess();

    bool playing = false, scanning = false;
    RunDriven(dialog_, [&](HWND frame) {
        Select(frame, "a_");
        PressButton(Panel(frame), kPlay);
        playing = WaitUntil([&] { return TextOf(PanelControl(frame, kPlay)) == "Stop"; }, 3000ms);
    });
    const int devicesAfterPlay = watch.OpenDevices(), filesAfterPlay = watch.OpenFiles();
    const std::set<DWORD> threadsAfterPlay = ThreadsBeyond(known);
    EXPECT_EQ(dialog_.Output(), nullptr);
    EXPECT_EQ(dialog_.Source(), nullptr);

    watch.SlowReads(25, 1024);
    RunDriven(dialog_, [&](HWND frame) {
        SelectListViewItem(frame, "p_");
        scanning = WaitUntil([&] { return watch.BytesReadFrom(Path("p_large.wav")) > 0; }, 5000ms);
    });
    const int filesAfterScan = watch.OpenFiles();
    const int64_t read = watch.BytesReadFrom(Path("p_large.wav"));
    const std::set<DWORD> threadsAfterScan = ThreadsBeyond(known);
    ::Sleep(200);
    const int64_t readLater = watch.BytesReadFrom(Path("p_large.wav"));

    ASSERT_TRUE(playing);
    EXPECT_EQ(devicesAfterPlay, 0) << "the wave output device is closed";
    EXPECT_EQ(filesAfterPlay, 0);
    EXPECT_TRUE(threadsAfterPlay.empty()) << threadsAfterPlay.size() << " thread(s) left after closing while playing";
    ASSERT_TRUE(scanning);
    EXPECT_EQ(filesAfterScan, 0) << "the scan's file is closed";
    EXPECT_EQ(readLater, read) << "and read no more";
    EXPECT_TRUE(threadsAfterScan.empty()) << threadsAfterScan.size() << " thread(s) left after closing while scanning";
}

// ---- a system without a wave output device ----

namespace {

// Runs a copy of this test executable with `arguments`, Wine told (by the
// per-program overrides of the copy's name) not to load its audio driver;
// its exit code, and its output in `output`.
DWORD RunWithoutAudioDriver(const std::string& arguments, const std::string& outputPath, std::string& output) {
    char exe[MAX_PATH] = "";
    ::GetModuleFileNameA(nullptr, exe, MAX_PATH);
    const std::string copyName = "wavedialog_noaudio.exe";
    const std::string copy = ProgramDir() + "\\" + copyName;  // beside it, with the same libraries at hand
    if (!::CopyFileA(exe, copy.c_str(), FALSE)) return DWORD(-1);
    const std::string appKey = "Software\\Wine\\AppDefaults\\" + copyName;
    DWORD code = DWORD(-1);
    {
        const RegistryOverride noAudio =
            RegistryOverride::Text(HKEY_CURRENT_USER, appKey + "\\DllOverrides", "winealsa.drv", "");
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        wc::FileHandle log(::CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                         CREATE_ALWAYS, 0, nullptr));
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = log.get();
        startup.hStdError = log.get();
        startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
        std::string commandLine = "\"" + copy + "\" " + arguments;
        PROCESS_INFORMATION created{};
        if (::CreateProcessA(copy.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                             &created)) {
            wc::KernelHandle process(created.hProcess), thread(created.hThread);
            if (::WaitForSingleObject(process.get(), 120000) == WAIT_OBJECT_0)
                ::GetExitCodeProcess(process.get(), &code);
            else
                ::TerminateProcess(process.get(), 1);
        }
    }
    ::RegDeleteKeyA(HKEY_CURRENT_USER, appKey.c_str());
    ::DeleteFileA(copy.c_str());
    const std::vector<uint8_t> bytes = ReadFileBytes(outputPath);
    output.assign(bytes.begin(), bytes.end());
    return code;
}

}  // namespace

TEST_F(WaveDialogRun, WithoutAWaveOutputDeviceAutoPlayIsDisabledAndPlayNeverComesUp) {
    std::string output;
    const DWORD code = RunWithoutAudioDriver(
        "--gtest_color=no --gtest_also_run_disabled_tests "
        "--gtest_filter=WaveDialogRun.DISABLED_InAProcessWithoutWaveOutputDevice",
        dir_ / "child.txt", output);
    EXPECT_EQ(code, 0u) << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test."), std::string::npos) << output;
}

// Run by the test above, in a process where Wine loads no audio driver.
TEST_F(WaveDialogRun, DISABLED_InAProcessWithoutWaveOutputDevice) {
    ASSERT_EQ(::waveOutGetNumDevs(), 0u) << "Wine was told to load no audio driver for this program";
    dialog_.AutoPlay = true;
    bool autoPlayEnabled = true, play = true;
    std::string label, caption;
    RunDriven(dialog_, [&](HWND frame) {
        WaitUntil([&] { return PanelControl(frame, kAutoPlay) != nullptr; });
        autoPlayEnabled = Enabled(frame, kAutoPlay);
        label = Select(frame, "a_");
        play = Enabled(frame, kPlay);
        PressButton(Panel(frame), kPlay);
        ::Sleep(300);
        caption = TextOf(PanelControl(frame, kPlay));
    });
    EXPECT_FALSE(autoPlayEnabled);
    EXPECT_EQ(label, "PCM; 44.100 kHz, 16 Bit, Stereo; " + FileSizeKB(Path("a_pcm44.wav"))) << "still described";
    EXPECT_FALSE(play);
    EXPECT_EQ(caption, "Play") << "nothing starts";
}
