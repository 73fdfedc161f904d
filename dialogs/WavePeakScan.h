// The waveform of the wave preview: a scan that reads a PCM wave once, one
// block per pixel column, keeps the extremes of each column in a peak table
// and draws the columns as they become known; and the repaint of a scanned
// waveform from its table alone. The blocks are read and scanned on helper
// threads while the thread that owns the scan draws: which thread runs what,
// and which lock guards which field, is described at the top of
// WavePeakScan.cpp.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "framework/Graphics.h"

class TMMWave;

// One column of the waveform: the two extremes of each channel, each pair
// in the order in which they occur (mono repeats the left pair), on the
// signed 16-bit scale.
struct WavePeak {
    int16_t leftFirst = 0, leftSecond = 0, rightFirst = 0, rightSecond = 0;
    // The column is drawn from Low() to High().
    int16_t Low() const noexcept { return leftFirst < rightFirst ? leftFirst : rightFirst; }
    int16_t High() const noexcept { return leftSecond > rightSecond ? leftSecond : rightSecond; }
};
static_assert(sizeof(WavePeak) == 8, "the peak table holds 8 bytes per column");
using WavePeakTable = std::vector<WavePeak>;

// The row of a sample value in an area: bottom - ((v + 32767) * height div 65535) - 1.
int WaveValueY(int value, const RECT& area) noexcept;

// The waveform is drawn inside the area's two bevels: the scan shrinks the
// area it is given by this much on every side.
constexpr int kWaveAreaInset = 2;

// The peaks of a block read in pieces: fed with PCMFindPeaks' four values
// of each piece in turn (mono pieces repeat the left pair), it gives the
// four values PCMFindPeaks gives for the whole block. Values are on the
// routine's own scale (unsigned bytes for 8-bit data).
class WavePeakMerger {
public:
    explicit WavePeakMerger(bool eightBit) noexcept;
    void Add(const WavePeak& piece) noexcept;
    WavePeak Result() const noexcept;

private:
    struct Channel {
        int low = 0, high = 0;
        int lowPiece = 0, highPiece = 0;
        bool lowHighFirst = false, highHighFirst = false;  // the order inside that piece
        bool lowSet = false, highSet = false;              // beaten the starting value
    };
    int startLow_, startHigh_;
    Channel channels_[2];
    int pieces_ = 0;
};

struct WaveDrawColors {
    wc::TColor background = 0, wave = 0x00FF00, progress = 0x0000FF;
};

// Computes the waveform of `wave` into `peaks` and draws it into `area`
// (the waveform area's client rectangle, shrunk here by 2 on every side):
// one block read and one peak scan per pixel column, a progress mark ahead
// of the drawing for waves of more than 2 MiB. The wave's TimeFormat must
// be bytes. The file is opened for the scan and closed again, also on
// failure (EMMWaveError passes on).
void DrawWavePeaks(HDC dc, const RECT& area, TMMWave& wave, const WaveDrawColors& colors, WavePeakTable& peaks);
// Redraws a computed waveform from its peaks into `inner` (already shrunk);
// no file is touched.
void PaintWavePeaks(HDC dc, const RECT& inner, const WavePeakTable& peaks, wc::TColor color);

// Draws the scan's columns as they become known: per column the column is
// cleared, a line goes from the previous column's end to the column's low
// point and on to its high point, and for large waves the next column
// shows the progress mark. The pen's place is kept here, so the columns may
// be drawn in any number of batches, on any device context of the area,
// with the same pixels as in one go.
class WaveScanPainter {
public:
    WaveScanPainter(const RECT& inner, const WaveDrawColors& colors, bool marks);
    void Restart() noexcept { pen_ = POINT{r_.left, mid_}; }
    // The area cleared to the background, as the scan starts.
    void Begin(HDC dc) const;
    // Columns [from, to) of the table.
    void Columns(HDC dc, const WavePeakTable& peaks, int from, int to);
    // Short (or unreadable) data ended the scan at column `x` (the first
    // not read): the rest of the area is the zero line, without a progress
    // mark left standing in it. The last column read holds the wave's end
    // block of zero bytes, not samples: on an 8-bit wave it would stand as
    // a spike to the bottom edge, so it joins the zero line too, in the
    // table as on the screen.
    static int EndColumn(int x) noexcept { return std::max(x - 1, 0); }
    void ZeroLine(HDC dc, int x);

private:
    RECT r_;
    WaveDrawColors colors_;
    bool marks_;
    int mid_;
    POINT pen_{};
};

// One scan of a wave into the peak table, one block read and one peak
// scan per pixel column, drawn as it goes. The blocks are read and scanned
// on helper threads (ColumnReader), and, when the owner waits for the
// whole scan anyway, on the owner's thread beside them; the drawing runs
// on the thread that owns the scan, in steps that each draw the columns
// known by then. The
// wave is open from the start of the scan to its end (or its cancelling:
// destroying the scan stops the workers within one piece and closes the
// file). Until then the wave is the scan's: nothing else may read or
// position it.
class WavePeakScan {
public:
    enum class Status { Running, Finished };
    // Who reads the blocks. Helpers: helper threads alone, while the
    // owner's thread goes on with its messages (the chooser). OwnerToo: the
    // owner's thread too, in its one Step(dc, true), which it calls before
    // any other Step; a small wave gets no helper thread at all then.
    enum class Readers { Helpers, OwnerToo };

    // Zeroes the table's first w entries; nothing else for an empty wave.
    // Opens the wave (EMMWaveError passes on, the file closed again).
    // `columnRead` (may be empty) is called on a reader thread after each
    // batch of columns, to ask the owner for a Step.
    WavePeakScan(TMMWave& wave, const RECT& area, const WaveDrawColors& colors, WavePeakTable& peaks,
                 Readers readers, std::function<void()> columnRead);
    ~WavePeakScan();
    WavePeakScan(const WavePeakScan&) = delete;
    WavePeakScan& operator=(const WavePeakScan&) = delete;

    // Whether the scan draws anything (not for an empty wave or area).
    bool Draws() const noexcept { return w_ > 0; }

    void Begin(HDC dc) const {
        if (Draws()) painter_.Begin(dc);
    }
    // Draws the columns scanned by now; with `wait`, waits for every column
    // (reading some of them on this thread, with Readers::OwnerToo).
    Status Step(HDC dc, bool wait);
    // Draws again what the scan has drawn so far (a repaint while it runs).
    void Replay(HDC dc) const;

private:
    // The reader threads (WavePeakScan.cpp).
    class ColumnReader;

    static RECT Inner(const RECT& area);
    // A second wave on the same file for a second worker, when the machine
    // has a second processor and the file is large enough to gain more
    // than parsing its header again costs; null otherwise, or when it
    // cannot be opened (one worker reads it all then).
    TMMWave* OpenSecondWave(const TMMWave& wave);
    void End();

    TMMWave& wave_;
    WavePeakTable& peaks_;
    WaveDrawColors colors_;
    RECT r_;
    int w_;
    WaveScanPainter painter_;
    bool open_ = false;
    int x_ = 0;  // the next column to draw
    bool ownerReads_;  // the owner's thread has wave 0 to read in its waiting Step
    std::unique_ptr<TMMWave> second_;  // open while the scan runs, or null
    std::unique_ptr<ColumnReader> reader_;
};
