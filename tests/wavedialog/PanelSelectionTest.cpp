// How a selection reaches the panel: described when the 50 ms timer fires,
// with one open of the file; a scan still reading the file before is
// cancelled; progress marks ahead of the scan of a large wave; old-style
// dialogs too.
#include <gtest/gtest.h>

#include <windows.h>
#include <dlgs.h>

#include <chrono>
#include <string>
#include <tuple>
#include <vector>

#include "SystemCallWatch.h"
#include "WaveDialogFixture.h"
#include "support/WavePanel.h"
#include "support/DialogDriver.h"
#include "support/TestSupport.h"

using namespace wavedialog_tests;
using namespace testing_support;
using namespace std::chrono_literals;

namespace {

// 2 channels of 16 bits at 44100 Hz for 786432 frames: 3 MiB of samples, above the 2 MiB of progress marks.
constexpr uint32_t kLargeFrames = 786432;
constexpr int64_t kLargeDataBytes = int64_t(kLargeFrames) * 4;
constexpr uint32_t kRed = Rgb(255, 0, 0);
constexpr uint32_t kBlack = Rgb(0, 0, 0);
// Reads of the scan (a column's block: kLargeDataBytes / area width, or
// a_pcm44.wav's 529200 / width) are slowed to this much each; the parse
// reads short chunk headers and stays fast.
constexpr DWORD kSlowReadMs = 40;
constexpr LONG kSlowReadBytes = 1024;

class PanelSelection : public WaveDialogRun {
protected:
    void SetUp() override {
        WaveDialogRun::SetUp();
        WriteFileBytes(dir_ / "p_large.wav", MakePcmWave(2, 44100, 16, MakeTestSamples16(2, kLargeFrames, 3)));
    }
    // Selecting the file that starts with `prefix`, of `dataBytes` bytes of
    // samples, then another before its scan ends.
    void CheckNewSelectionCancelsTheScan(const char* prefix, const char* name, int64_t dataBytes);
};

// The waveform area inside its two bevels.
RECT Inner(const Pixels& area) { return RECT{2, 2, area.width - 2, area.height - 2}; }

bool ColumnIs(const Pixels& area, int x, uint32_t color) {
    const RECT inner = Inner(area);
    for (int y = inner.top; y < inner.bottom; ++y)
        if (area.At(x, y) != color) return false;
    return true;
}

// A picture of a scan under way: some columns drawn from the left, the
// rest still the background; the first column not drawn, or -1 when the
// picture is not of that kind. `marked` tells whether that column is the
// progress mark (all LocatorColor).
int ScanFront(const Pixels& area, bool& marked) {
    const RECT inner = Inner(area);
    int x = inner.left;
    while (x < inner.right && !ColumnIs(area, x, kBlack) && !ColumnIs(area, x, kRed)) ++x;
    if (x == inner.left || x >= inner.right - 1) return -1;
    marked = ColumnIs(area, x, kRed);
    for (int rest = x + 1; rest < inner.right; ++rest)
        if (!ColumnIs(area, rest, kBlack)) return -1;
    return x;
}

}  // namespace

TEST_F(PanelSelection, QuickRunOfSelectionsIsDescribedOnceAfterTheTimerAndOpensOnlyTheLastFile) {
    // Every selection of a quick run was opened and parsed at once; only the panel's update waited for the timer.
    SystemCallWatch watch;
    ASSERT_TRUE(watch.Complete()) << "the executable imports the multimedia file and wave output functions";
    std::vector<TextLog::Entry> labels;
    Clock::time_point selected;
    bool run = false;
    RunDriven(dialog_, [&](HWND frame) {
        Select(frame, "a_");
        TextLog log(PanelControl(frame, kLabel));
        selected = Clock::now();
        run = SelectListViewItemsInOneGo(frame, {"h_", "k_"});
        WaitUntil([&] { return !log.Entries().empty(); }, 3000ms);
        ::Sleep(300);
        labels = log.Entries();
    });
    ASSERT_TRUE(run);
    ASSERT_EQ(labels.size(), 1u) << "one panel update for the run; first: " << (labels.empty() ? "" : labels[0].text);
    EXPECT_EQ(labels[0].text, "PCM; 22.050 kHz, 16 Bit, Mono; " + FileSizeKB(Path("k_pcm22.wav")));
    // An update at the selection would come within a few milliseconds; the
    // timer's 50 ms are measured by another clock than this one, so a little is allowed.
    EXPECT_GE(labels[0].at - selected, 45ms) << "the panel waits for its 50 ms timer";
    EXPECT_EQ(watch.OpensOf(Path("h_square16.wav")), 0) << "a file passed over in the run is not opened";
    EXPECT_EQ(watch.OpensOf(Path("k_pcm22.wav")), 1);
}

TEST_F(PanelSelection, EachSelectionOpensItsFileOnce) {
    SystemCallWatch watch;
    ASSERT_TRUE(watch.Complete());
    std::vector<int> opens;
    std::string label;
    RunDriven(dialog_, [&](HWND frame) {
        label = Select(frame, "a_");
        ::Sleep(200);
        opens.push_back(watch.OpensOf(Path("a_pcm44.wav")));
        Select(frame, "k_");
        Select(frame, "a_");
        ::Sleep(200);
        opens.push_back(watch.OpensOf(Path("a_pcm44.wav")));
    });
    EXPECT_EQ(label, "PCM; 44.100 kHz, 16 Bit, Stereo; " + FileSizeKB(Path("a_pcm44.wav")));
    EXPECT_EQ(opens, (std::vector<int>{1, 2})) << "format texts, picture and length come from one parse";
    EXPECT_EQ(watch.OpenFiles(), 0);
}

TEST_F(PanelSelection, NewSelectionCancelsTheScanOfTheFileBefore) {
    // Beside the 3 MiB wave, one of 20 MiB: scanned by two workers, each through a wave of its own.
    constexpr uint32_t kHugeFrames = 5 << 20;
    WriteFileBytes(dir_ / "q_huge.wav", MakePcmWave(2, 44100, 16, MakeTestSamples16(2, kHugeFrames, 4)));
    for (const auto& [prefix, name, dataBytes] :
         {std::tuple{"p_", "p_large.wav", kLargeDataBytes}, std::tuple{"q_", "q_huge.wav", int64_t(kHugeFrames) * 4}}) {
        SCOPED_TRACE(name);
        CheckNewSelectionCancelsTheScan(prefix, name, dataBytes);
    }
}

void PanelSelection::CheckNewSelectionCancelsTheScan(const char* prefix, const char* name, int64_t dataBytes) {
    dialog_.Preview = true;
    SystemCallWatch watch;
    ASSERT_TRUE(watch.Complete());
    Pixels alone, afterCancel;
    bool scanning = false;
    int64_t readAtSwitch = 0, readAfter = 0, readLater = 0;
    int openAfter = -1;
    std::string label;
    RunDriven(dialog_, [&](HWND frame) {
        HWND area = PanelControl(frame, kWaveArea);
        Select(frame, "h_");
        ::Sleep(300);
        alone = CaptureClient(area);
        watch.SlowReads(kSlowReadMs, kSlowReadBytes);
        SelectListViewItem(frame, prefix);
        scanning = WaitUntil([&] { return watch.BytesReadFrom(Path(name)) > 0; }, 5000ms);
        readAtSwitch = watch.BytesReadFrom(Path(name));
        label = Select(frame, "h_");
        ::Sleep(400);
        afterCancel = CaptureClient(area);
        readAfter = watch.BytesReadFrom(Path(name));
        ::Sleep(300);
        readLater = watch.BytesReadFrom(Path(name));
        openAfter = watch.OpenFiles();
    });
    ASSERT_TRUE(scanning) << "the large wave's scan began";
    EXPECT_EQ(label, "PCM; 11.025 kHz, 16 Bit, Mono; " + FileSizeKB(Path("h_square16.wav")));
    EXPECT_LT(readAfter, dataBytes / 2) << "the scan stopped at the new selection (read " << readAtSwitch
                                              << " bytes by then)";
    EXPECT_EQ(readLater, readAfter) << "nothing more is read of the file passed over";
    EXPECT_EQ(openAfter, 0) << "the cancelled scan closed its file";
    ASSERT_GT(alone.width, 20);
    EXPECT_TRUE(afterCancel.rgb == alone.rgb) << "the new file is drawn as when selected alone";
}

TEST_F(PanelSelection, ScanOfAWaveAboveTwoMiBShowsTheProgressMarkAheadAndASmallerOneNone) {
    dialog_.Preview = true;
    SystemCallWatch watch;
    ASSERT_TRUE(watch.Complete());
    int largeFront = -1, smallFront = -1, smallMarked = 0;
    bool largeMarked = false, smallMarkedNow = false;
    Pixels large;
    RunDriven(dialog_, [&](HWND frame) {
        HWND area = PanelControl(frame, kWaveArea);
        watch.SlowReads(kSlowReadMs, kSlowReadBytes);
        Select(frame, "p_");
        // Any moment of the scan: the drawn columns, the mark, then the background.
        WaitUntil([&] {
            large = CaptureClient(area);
            largeFront = ScanFront(large, largeMarked);
            return largeFront > 0 && largeMarked;
        }, 5000ms);
        Select(frame, "a_");
        for (int i = 0; i < 10; ++i) {
            const Pixels now = CaptureClient(area);
            const int front = ScanFront(now, smallMarkedNow);
            if (front > 0) {
                smallFront = front;
                smallMarked += smallMarkedNow ? 1 : 0;
            }
            ::Sleep(60);
        }
    });
    EXPECT_GT(largeFront, 0) << "a picture of the large wave's scan under way";
    EXPECT_TRUE(largeMarked) << "the column after the last drawn one is the progress mark";
    EXPECT_GT(smallFront, 0) << "a picture of a_pcm44.wav's scan under way (529200 bytes)";
    EXPECT_EQ(smallMarked, 0) << "no progress mark at or below 2 MiB";
}

TEST_F(WaveDialogRun, OldStyleDialogDescribesTheFileSelectedInItsList) {
    wc::SetNewStyleControls(false);
    RegisterCommonDialogMessages();
    std::string label;
    bool found = false, preview = false;
    RunDriven(dialog_, [&](HWND frame) {
        HWND list = ::GetDlgItem(frame, lst1);
        HWND labelControl = PanelControl(frame, kLabel);
        WaitUntil([&] { return ::SendMessageA(list, LB_GETCOUNT, 0, 0) > 0; });
        const LRESULT index =
            ::SendMessageA(list, LB_FINDSTRING, WPARAM(-1), reinterpret_cast<LPARAM>("a_pcm44.wav"));
        found = index != LB_ERR;
        if (!found) return;
        ::SendMessageA(list, LB_SETCURSEL, WPARAM(index), 0);
        ::SendMessageA(frame, WM_COMMAND, MAKEWPARAM(lst1, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
        WaitUntil([&] { return TextOf(labelControl) != "Unknown"; }, 3000ms);
        label = TextOf(labelControl);
        preview = Enabled(frame, kPreview);
    });
    ASSERT_TRUE(found) << "the old-style file list shows a_pcm44.wav";
    EXPECT_EQ(label, "PCM; 44.100 kHz, 16 Bit, Stereo; " + FileSizeKB(Path("a_pcm44.wav")));
    EXPECT_TRUE(preview);
}
