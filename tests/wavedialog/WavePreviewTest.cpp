// The preview panel's pieces that need no dialog: the selection text's
// reduction to one name, the output buffer size per format, the row rule,
// and the waveform computed from a file and redrawn from its peak table.
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include <windows.h>

#include "support/WavePanel.h"
#include "WaveFixtures.h"
#include "dialogs/MMCstDlg.h"
#include "dialogs/WavePeakScan.h"
#include "framework/Handles.h"
#include "media/wave/MMWave.h"
#include "support/AudioFixtures.h"
#include "support/TestSupport.h"

using namespace wavedialog_tests;
using testing_support::PcmFormat;
using testing_support::Rgb;
using testing_support::TempDir;

namespace {
int32_t SizeFor(uint16_t channels, uint16_t bits, uint32_t rate) {
    const WAVEFORMATEX format = PcmFormat(channels, bits, rate);
    return PreviewBufferSize(&format);
}
}  // namespace

TEST(SelectedName, PlainPathIsTakenWholeLessOneTrailingBackslash) {
    EXPECT_EQ(ReduceSelectedName("C:\\music\\take.wav"), "C:\\music\\take.wav");
    EXPECT_EQ(ReduceSelectedName("C:\\music\\"), "C:\\music");
    EXPECT_EQ(ReduceSelectedName(""), "");
}

TEST(SelectedName, MultipleSelectionGivesTheLastNameInItsFolder) {
    EXPECT_EQ(ReduceSelectedName("D:\\x\\\"a.wav\" \"b.wav\""), "D:\\x\\b.wav");
    EXPECT_EQ(ReduceSelectedName("D:\\x\"a.wav\" \"b.wav\""), "D:\\x\\b.wav");
    EXPECT_EQ(ReduceSelectedName("D:\\x\\\"a.wav\""), "D:\\x\\a.wav");
}

TEST(SelectedName, AbsoluteNamesInAMultipleSelectionKeepTheirOwnPath) {
    EXPECT_EQ(ReduceSelectedName("D:\\x\\\"a.wav\" \"E:\\y\\c.wav\""), "E:\\y\\c.wav");
    EXPECT_EQ(ReduceSelectedName("D:\\x\\\"a.wav\" \"\\\\server\\s\\c.wav\""), "\\\\server\\s\\c.wav");
}

TEST(SelectedName, UnclosedQuoteRunsToTheEnd) {
    EXPECT_EQ(ReduceSelectedName("D:\\x\\\"a.wav\" \"b.w"), "D:\\x\\b.w");
    EXPECT_EQ(ReduceSelectedName("D:\\x\\\"\""), "D:\\x") << "no name at all leaves the folder";
}

TEST(PreviewBuffer, SizesFollowRateAndSampleWidth) {
    EXPECT_EQ(SizeFor(2, 16, 44100), 6144);
    EXPECT_EQ(SizeFor(1, 8, 22050), 4096);
    EXPECT_EQ(SizeFor(1, 16, 8000), 1024);
    EXPECT_EQ(SizeFor(1, 16, 15000), 1024);
    EXPECT_EQ(SizeFor(1, 16, 15001), 2048);
    EXPECT_EQ(SizeFor(1, 16, 32000), 4096);
    EXPECT_EQ(SizeFor(2, 16, 48000), 6144);
    WAVEFORMATEX odd = PcmFormat(1, 16, 8000);
    for (auto [bits, size] : {std::pair{1, 32}, {2, 64}, {4, 64}, {5, 128}, {7, 128}, {9, 1024}, {12, 1024},
                              {24, 2048}, {32, 2048}}) {
        odd.wBitsPerSample = WORD(bits);
        EXPECT_EQ(PreviewBufferSize(&odd), size) << bits << " bits";
    }
}

TEST(PreviewBuffer, RatesCountByTheirLow16Bits) {
    // 96000 = 0x17700: its low 16 bits are 30464, in the 2048 step.
    EXPECT_EQ(SizeFor(2, 16, 96000), 4096);
    // 88200 -> 22664: the 1024 step.
    EXPECT_EQ(SizeFor(2, 16, 88200), 2048);
}

TEST(WaveRows, ExtremesLandOnTheAreasFirstAndLastRow) {
    const RECT area{10, 20, 110, 50};  // 30 rows
    EXPECT_EQ(WaveValueY(32767, area), 20);
    EXPECT_EQ(WaveValueY(-32768, area), 49);
    EXPECT_EQ(WaveValueY(0, area), 35);
    EXPECT_EQ(WaveValueY(0, area), area.top + (area.bottom - area.top) / 2) << "zero is the mid line";
}

namespace {

constexpr int kAreaWidth = 204, kAreaHeight = 44;
constexpr uint32_t kGreen = Rgb(0, 255, 0);

// A memory DC with a 32-bit DIB section, readable as pixels.
class TestCanvas {
public:
    TestCanvas() {
        wc::WindowDc screen(nullptr);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = kAreaWidth;
        info.bmiHeader.biHeight = -kAreaHeight;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        bitmap_.reset(::CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits_, nullptr, 0));
        dc_.reset(::CreateCompatibleDC(screen.get()));
        previous_ = ::SelectObject(dc_.get(), bitmap_.get());
        const RECT all{0, 0, kAreaWidth, kAreaHeight};
        ::FillRect(dc_.get(), &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    }
    ~TestCanvas() { ::SelectObject(dc_.get(), previous_); }
    HDC dc() const { return dc_.get(); }
    uint32_t At(int x, int y) const {
        ::GdiFlush();
        return static_cast<const uint32_t*>(bits_)[y * kAreaWidth + x] & 0xFFFFFF;
    }
    std::vector<int> RowsOf(int x, uint32_t color) const {
        std::vector<int> rows;
        for (int y = 0; y < kAreaHeight; ++y)
            if (At(x, y) == color) rows.push_back(y);
        return rows;
    }

private:
    wc::BitmapHandle bitmap_;
    wc::MemoryDcHandle dc_;
    HGDIOBJ previous_ = nullptr;
    void* bits_ = nullptr;
};

const RECT kArea{0, 0, kAreaWidth, kAreaHeight};
const RECT kInner{2, 2, kAreaWidth - 2, kAreaHeight - 2};

void Draw(const std::string& path, TestCanvas& canvas, WavePeakTable& peaks) {
    TMMWave wave;
    wave.SetTimeFormat(tfByte);
    wave.SetFileName(path);
    peaks.assign(kAreaWidth, WavePeak{});
    DrawWavePeaks(canvas.dc(), kArea, wave, WaveDrawColors{0, 0x00FF00, 0x0000FF}, peaks);
    EXPECT_FALSE(wave.IsOpened()) << "the scan closes the file again";
}

}  // namespace

TEST(WaveDrawing, EightBitWaveIsDrawnCentredLikeASixteenBitOne) {
    TempDir dir("wavedraw");
    const uint32_t frames = 200 * 16;
    testing_support::WriteFileBytes(dir / "w8.wav", testing_support::MakePcmWave(1, 8000, 8, AlternatingSamples8(frames, 64)));
    testing_support::WriteFileBytes(dir / "w16.wav",
                                    testing_support::MakePcmWave(1, 8000, 16, AlternatingSamples16(frames, 16384)));
    TestCanvas c8, c16;
    WavePeakTable p8, p16;
    Draw(dir / "w8.wav", c8, p8);
    Draw(dir / "w16.wav", c16, p16);
    // Each block starts with the positive sample: the pair is in that order.
    EXPECT_EQ(p8[10].leftFirst, 16384);
    EXPECT_EQ(p8[10].leftSecond, -16384);
    EXPECT_EQ(p16[10].leftFirst, 16384);
    EXPECT_EQ(p16[10].leftSecond, -16384);
    for (int x : {3, 50, 120, 199}) {
        const std::vector<int> rows = c16.RowsOf(x, kGreen);
        ASSERT_FALSE(rows.empty()) << "column " << x;
        EXPECT_EQ(c8.RowsOf(x, kGreen), rows) << "column " << x;
        EXPECT_LE(rows.front(), WaveValueY(16384, kInner));
        EXPECT_GE(rows.back(), WaveValueY(-16384, kInner) - 1);
    }
    EXPECT_EQ(c16.At(1, 1), Rgb(255, 255, 255)) << "the 2-pixel border is left alone";
}

TEST(WaveDrawing, ShortWaveEndsInTheMidLineAndRepaintsSoWithoutItsFile) {
    TempDir dir("wavedraw");
    const std::string path = dir / "short.wav";
    testing_support::WriteFileBytes(path, testing_support::MakePcmWave(1, 8000, 16, AlternatingSamples16(10, 30000)));
    TestCanvas canvas;
    WavePeakTable peaks;
    Draw(path, canvas, peaks);
    const int mid = kInner.top + (kInner.bottom - kInner.top) / 2;
    EXPECT_GT(canvas.RowsOf(kInner.left + 2, kGreen).size(), 20u) << "the data columns span most of the height";
    for (int x : {kInner.left + 20, kInner.left + 100, kInner.right - 1})
        EXPECT_EQ(canvas.RowsOf(x, kGreen), std::vector<int>{mid}) << "column " << x;
    EXPECT_EQ(peaks[100].Low(), 0);
    EXPECT_EQ(peaks[100].High(), 0);

    ASSERT_TRUE(::DeleteFileA(path.c_str()));
    TestCanvas repaint;
    PaintWavePeaks(repaint.dc(), kInner, peaks, 0x00FF00);
    EXPECT_GT(repaint.RowsOf(kInner.left + 2, kGreen).size(), 20u);
    EXPECT_EQ(repaint.RowsOf(kInner.left + 100, kGreen), std::vector<int>{mid});
}

TEST(WaveDrawing, ShortEightBitWaveEndsInTheMidLineWithoutASpikeFromTheEndBlock) {
    // The end block's zero bytes were drawn as an 8-bit sample of -128: a line to the bottom edge.
    TempDir dir("wavedraw");
    const std::string path = dir / "short8.wav";
    std::vector<uint8_t> samples;
    for (int i = 0; i < 10; ++i) samples.push_back(i % 2 ? 64 : 192);
    testing_support::WriteFileBytes(path, testing_support::MakePcmWave(1, 8000, 8, samples));
    TestCanvas canvas;
    WavePeakTable peaks;
    Draw(path, canvas, peaks);
    const int mid = kInner.top + (kInner.bottom - kInner.top) / 2;
    EXPECT_GT(canvas.RowsOf(kInner.left, kGreen).size(), 20u) << "the samples are drawn";
    for (int x = kInner.left + 3; x < kInner.left + 10; ++x)
        EXPECT_EQ(canvas.RowsOf(x, kGreen), std::vector<int>{mid}) << "column " << x;
    EXPECT_EQ(peaks[3].Low(), 0);
    EXPECT_EQ(peaks[3].High(), 0);
    TestCanvas repaint;
    PaintWavePeaks(repaint.dc(), kInner, peaks, 0x00FF00);
    for (int row : repaint.RowsOf(kInner.left + 3, kGreen)) EXPECT_LE(row, WaveValueY(-16384, kInner)) << "no spike";
    EXPECT_EQ(repaint.RowsOf(kInner.left + 5, kGreen), std::vector<int>{mid});
}

TEST(WaveDrawing, LargeWaveLeavesNoProgressMarkBehind) {
    TempDir dir("wavedraw");
    const std::string path = dir / "large.wav";
    // Just above 2 MiB of data: progress marks run ahead of the drawing.
    testing_support::WriteFileBytes(path, testing_support::MakePcmWave(2, 44100, 16,
                                                                       testing_support::MakeTestSamples16(2, 540000)));
    TestCanvas canvas;
    WavePeakTable peaks;
    Draw(path, canvas, peaks);
    for (int x = kInner.left; x < kInner.right; ++x)
        EXPECT_TRUE(canvas.RowsOf(x, Rgb(255, 0, 0)).empty()) << "a mark is left in column " << x;
}

TEST(WaveDrawing, UnreadableFormatDrawsNothingAndTouchesNoPixel) {
    TempDir dir("wavedraw");
    TMMWave wave;
    wave.SetTimeFormat(tfByte);
    TestCanvas canvas;
    WavePeakTable peaks(kAreaWidth, WavePeak{int16_t(5), int16_t(6), int16_t(7), int16_t(8)});
    DrawWavePeaks(canvas.dc(), kArea, wave, WaveDrawColors{}, peaks);
    EXPECT_EQ(peaks[0].High(), 0) << "the table is cleared";
    EXPECT_EQ(canvas.At(100, 20), Rgb(255, 255, 255)) << "an empty wave draws nothing";
}

namespace {

// The peak pair of one channel over samples [from, to) (stride `channels`),
// frame by frame: the lowest and the highest, each where first seen, in the
// order they occur; the highest starts above the most negative sample.
std::pair<int, int> ChannelPeaks(const std::vector<int>& samples, size_t from, size_t to, size_t channels,
                                 size_t channel) {
    int low = 32767, high = -32767;
    size_t lowAt = 0, highAt = 0;
    for (size_t i = from + channel, frame = 0; i < to; i += channels, ++frame) {
        if (samples[i] < low) low = samples[i], lowAt = frame;
        if (samples[i] > high) high = samples[i], highAt = frame;
    }
    return highAt < lowAt ? std::pair{high, low} : std::pair{low, high};
}

// What the waveform of a wave's samples (on the 16-bit scale) is in a
// `columns` wide area: each column one block of the data, data bytes /
// columns rounded down to 4.
std::vector<WavePeak> ExpectedColumns(const std::vector<int>& samples, size_t channels, size_t sampleBytes,
                                      int columns) {
    const size_t dataBytes = samples.size() * sampleBytes;
    const size_t blockSamples = ((dataBytes / size_t(columns)) & ~size_t(3)) / sampleBytes;
    std::vector<WavePeak> expected;
    for (int x = 0; x < columns; ++x) {
        const size_t from = size_t(x) * blockSamples, to = std::min(samples.size(), from + blockSamples);
        const auto left = ChannelPeaks(samples, from, to, channels, 0);
        const auto right = channels == 2 ? ChannelPeaks(samples, from, to, channels, 1) : left;
        expected.push_back(WavePeak{int16_t(left.first), int16_t(left.second), int16_t(right.first),
                                    int16_t(right.second)});
    }
    return expected;
}

// Every column of the table against the expected one.
void ExpectColumns(const WavePeakTable& peaks, const std::vector<WavePeak>& expected) {
    ASSERT_GE(peaks.size(), expected.size());
    for (size_t x = 0; x < expected.size(); ++x) {
        const WavePeak &got = peaks[x], &want = expected[x];
        ASSERT_TRUE(got.leftFirst == want.leftFirst && got.leftSecond == want.leftSecond &&
                    got.rightFirst == want.rightFirst && got.rightSecond == want.rightSecond)
            << "column " << x << ": " << got.leftFirst << ", " << got.leftSecond << " | " << got.rightFirst << ", "
            << got.rightSecond << " instead of " << want.leftFirst << ", " << want.leftSecond << " | "
            << want.rightFirst << ", " << want.rightSecond;
    }
}

// Draws the wave at `path` and holds every column of its peak table
// against the blocks of `samples` (its samples on the 16-bit scale).
void ExpectDrawnColumns(const std::string& path, const std::vector<int>& samples, size_t channels,
                        size_t sampleBytes) {
    TestCanvas canvas;
    WavePeakTable peaks;
    Draw(path, canvas, peaks);
    ExpectColumns(peaks, ExpectedColumns(samples, channels, sampleBytes, kInner.right - kInner.left));
}

// Samples whose loudness changes every few thousand frames, so that each
// column has its own extremes, some of them at the very edges of a block.
std::vector<int> VaryingSamples(size_t count, int range, uint32_t seed) {
    std::vector<int> samples(count);
    uint32_t state = seed;
    int amplitude = range / 2;
    for (size_t i = 0; i < count; ++i) {
        state = state * 1664525u + 1013904223u;
        if (i % 4099 == 0) amplitude = 1 + int(state >> 8) % (range / 2);
        samples[i] = int((state >> 12) % uint32_t(2 * amplitude + 1)) - amplitude;
    }
    return samples;
}

}  // namespace

TEST(WaveDrawing, LargeSixteenBitWaveGivesEveryColumnTheExtremesOfItsOwnBlock) {
    // 20 MiB of stereo samples: a wave this large is read by two workers, each taking every other column.
    TempDir dir("wavedraw");
    const std::string path = dir / "large16.wav";
    const std::vector<int> samples = VaryingSamples(size_t(20 << 20) / 2 + 2 * 777, 65535, 5);
    std::vector<uint8_t> bytes;
    for (int v : samples) {
        bytes.push_back(uint8_t(v));
        bytes.push_back(uint8_t(uint32_t(v) >> 8));
    }
    testing_support::WriteFileBytes(path, testing_support::MakePcmWave(2, 44100, 16, bytes));
    ExpectDrawnColumns(path, samples, 2, 2);
}

TEST(WaveDrawing, LargeEightBitMonoWaveGivesEveryColumnTheExtremesOfItsOwnBlock) {
    TempDir dir("wavedraw");
    const std::string path = dir / "large8.wav";
    const std::vector<int> centred = VaryingSamples(size_t(18 << 20) + 333, 255, 9);
    std::vector<uint8_t> bytes;
    std::vector<int> scaled;  // what the drawing shows: the byte value v as v * 256 - 32768
    for (int v : centred) {
        const int byte = std::clamp(v + 128, 0, 255);
        bytes.push_back(uint8_t(byte));
        scaled.push_back(byte * 256 - 32768);
    }
    testing_support::WriteFileBytes(path, testing_support::MakePcmWave(1, 22050, 8, bytes));
    ExpectDrawnColumns(path, scaled, 1, 1);
}
