// The waveform scan of the wave preview. WavePeakScan reads a PCM wave once,
// one block per pixel column, keeps each column's extremes in the peak table
// and draws the columns as they become known; its ColumnReader reads and
// scans the blocks on helper threads, so that the dialog goes on answering
// while a large file is scanned. A caller that waits for the whole scan
// (DrawWavePeaks) reads on its own thread too.
//
// How it works
//
// Reading. Each worker reads through a wave of its own, open on the same
// file: on a machine with two processors a large file gets a second wave,
// so that both the copying out of the system's file cache and the scan run
// on both processors. A worker claims the next column nobody has claimed
// yet (an atomic counter), so the columns still arrive from left to right,
// and a worker that starts late or is held up by a busy machine reads
// fewer columns instead of holding up the others: under Wine a new thread
// takes from one to over twenty milliseconds to run its first instruction
// on a loaded machine, as long as a tenth of a 1 GiB file's whole scan.
// For the same reason a caller that waits for the whole scan does not sit
// idle: it reads the first wave itself, from the start, and only a second
// wave gets a thread (a small file none at all). Each
// column's block is read in pieces small enough to stay in the processor's
// cache while they are scanned (and large enough to be read without a copy
// through the file buffer); the pieces' peaks are merged into the column's
// (WavePeakMerger). A worker positions its wave at the start of each of its
// columns, so it reads exactly the block one read of the whole file in
// column order would have given that column, up to the end of the data:
// the column after a short one is the last, and gets the wave's end block.
//
// Threads. The owner's thread (the dialog's, or DrawWavePeaks' caller)
// makes the scan, runs Begin, Step and Replay, draws every column and
// destroys the scan; the peak table, the painter and the waves' opening and
// closing are its alone. Worker k runs ColumnReader::Work(k) from the
// reader's construction to its destruction and is the only one to touch
// waves_[k] meanwhile (the scan opens the waves before and closes them
// after); with Readers::OwnerToo worker 0 is the owner's thread itself,
// inside its waiting Step (ReadHere), and gets no thread of its own. After
// each batch of columns a worker thread calls the owner's `columnRead`
// (outside the lock), which asks the owner's thread for a Step; Step takes
// the finished columns with Take. The owner reading draws the known
// columns after each batch of its own.
//
// Locks. ColumnReader::mutex_ guards `columns_`, `have_`, `done_`, `end_`,
// `ended_` and `working_`: a worker hands its batch over under it, and Take
// copies the columns known from the left into the peak table under it.
// `quit_` and `next_` (the next column to claim) are atomic.
//
// Stopping. The scan ends when Step has drawn the last column, or earlier
// when it is destroyed (a new selection, closing the dialog, unticking
// Preview). Either way End destroys the reader first, which sets quit_ and
// joins the workers: a worker looks at quit_ before each piece, so all end
// within one piece's read. Only then are the second wave and the wave
// closed.
#include "dialogs/WavePeakScan.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "framework/Graphics.h"
#include "framework/Handles.h"
#include "media/codecs/MMPCMSup.h"
#include "media/wave/MMWave.h"

namespace {

// The largest block of one column: reads count in 32 bits.
constexpr int64_t kLargestColumnBlock = INT32_MAX & ~3;
// Above this many data bytes the scan takes long enough to show its progress.
constexpr int64_t kProgressMarkDataSize = 2097152;
// A Step that waits for the whole scan waits at most this long at a time
// for the next column, then draws what is known and waits again.
constexpr std::chrono::milliseconds kWaitStep{100};
// Below this many data bytes the scan takes a few milliseconds: one
// worker, and no second parse of the file.
constexpr int64_t kSecondReaderDataSize = 16 << 20;

void Fill(HDC dc, const RECT& r, COLORREF color) {
    wc::BrushHandle brush(::CreateSolidBrush(color));
    ::FillRect(dc, &r, brush.get());
}

}  // namespace

// ---- peaks ----

int WaveValueY(int value, const RECT& area) noexcept {
    const int64_t height = area.bottom - area.top;
    return int(area.bottom - ((int64_t(value) + 32767) * height / 65535) - 1);
}

WavePeakMerger::WavePeakMerger(bool eightBit) noexcept
    : startLow_(eightBit ? 255 : 32767), startHigh_(eightBit ? 1 : -32767) {
    for (Channel& c : channels_) {
        c.low = startLow_;
        c.high = startHigh_;
    }
}

void WavePeakMerger::Add(const WavePeak& piece) noexcept {
    const int16_t pairs[2][2] = {{piece.leftFirst, piece.leftSecond}, {piece.rightFirst, piece.rightSecond}};
    for (int k = 0; k < 2; ++k) {
        Channel& c = channels_[k];
        const int first = pairs[k][0], second = pairs[k][1];
        const int low = std::min(first, second), high = std::max(first, second);
        // Within the piece the highest came first exactly when it is reported first.
        const bool highFirst = first > second;
        // Strictly beyond: the earliest piece keeps a tie, as the earliest frame does in one block.
        if (low < c.low) {
            c.low = low;
            c.lowPiece = pieces_;
            c.lowHighFirst = highFirst;
            c.lowSet = true;
        }
        if (high > c.high) {
            c.high = high;
            c.highPiece = pieces_;
            c.highHighFirst = highFirst;
            c.highSet = true;
        }
    }
    ++pieces_;
}

WavePeak WavePeakMerger::Result() const noexcept {
    int16_t out[2][2];
    for (int k = 0; k < 2; ++k) {
        const Channel& c = channels_[k];
        // An extreme never beaten stands at frame 0, that is in the first piece.
        const int lowPiece = c.lowSet ? c.lowPiece : 0, highPiece = c.highSet ? c.highPiece : 0;
        bool highFirst;
        if (lowPiece != highPiece) highFirst = highPiece < lowPiece;
        else highFirst = c.lowSet ? c.lowHighFirst : c.highSet && c.highHighFirst;
        out[k][0] = int16_t(highFirst ? c.high : c.low);
        out[k][1] = int16_t(highFirst ? c.low : c.high);
    }
    if (pieces_ == 0) {
        const int16_t zero = startLow_ == 255 ? 128 : 0;
        return WavePeak{zero, zero, zero, zero};
    }
    return WavePeak{out[0][0], out[0][1], out[1][0], out[1][1]};
}

// ---- the reader threads ----

// Reads and scans the wave's column blocks on helper threads (reading,
// threads and locks: at the top of this file).
class WavePeakScan::ColumnReader {
public:
    // `ready` (may be empty) is called on a worker after each batch of
    // columns. Waves from `firstThread` on get a thread each; the ones
    // before it are read by the owner's thread (ReadHere).
    ColumnReader(std::vector<TMMWave*> waves, int32_t block, int blocks, std::function<void()> ready,
                 int firstThread)
        : waves_(std::move(waves)), block_(block), ready_(std::move(ready)), format_(waves_[0]->PWaveFormat()),
          eightBit_(waves_[0]->BitLength() == 8), wide_(PCMIsWideFormat(format_)),
          frameBytes_(wide_ ? format_->nBlockAlign : 1),
          columns_(size_t(blocks)),
          have_(size_t(blocks)) {
        // Pieces of whole frames, so no frame is split between two scans.
        pieceBytes_ = std::min(kPieceBytes - kPieceBytes % frameBytes_, block_);
        // The columns that hold data, and the one behind them that gets the end block.
        const int64_t total = waves_[0]->PlayListBytes();
        end_ = int(std::min<int64_t>(blocks, (total + block_ - 1) / block_ + 1));
        working_ = int(waves_.size());
        for (int k = firstThread; k < int(waves_.size()); ++k) workers_.emplace_back([this, k] { Work(k, ready_); });
    }
    ~ColumnReader() {
        // A worker looks at quit_ before each piece: all end within one piece's read.
        quit_ = true;
        for (std::thread& worker : workers_) worker.join();
    }
    ColumnReader(const ColumnReader&) = delete;
    ColumnReader& operator=(const ColumnReader&) = delete;

    // Worker k's reading on the calling thread (the owner's), beside the
    // threads: claims columns until none is left. `handed` is called after
    // each batch it hands over.
    void ReadHere(int k, const std::function<void()>& handed) { Work(k, handed); }

    // Copies the columns known after `from` into `peaks`, waiting up to
    // `wait` for one; returns how many columns are known in all and, in
    // `ended`, whether no more will come.
    int Take(int from, WavePeakTable& peaks, bool& ended, std::chrono::milliseconds wait) {
        std::unique_lock lock(mutex_);
        if (wait.count() > 0) changed_.wait_for(lock, wait, [&] { return done_ > from || ended_; });
        for (int x = from; x < done_; ++x) peaks[size_t(x)] = columns_[size_t(x)];
        ended = ended_;
        return done_;
    }

private:
    // A piece of a block: larger than the preview's 128 KiB file buffer (so
    // it is read without a copy), and within the processor's own cache.
    static constexpr int32_t kPieceBytes = 512 << 10;
    // A cache line, and the largest vector the peak scan loads: each piece
    // is read to the start of a line, so that no load of the scan straddles
    // two. (Placed within its line as the file offset is instead, for the
    // copy out of the system's file cache, the read and scan of a 1 GiB file
    // in 512 KiB pieces took a tenth longer: the copy gained nothing.)
    static constexpr uint32_t kPieceAlignment = 64;
    // Finished columns are handed to the owner in batches, at most this
    // often (and at the end): each hand-over wakes the owner's thread,
    // which under load costs more than scanning a column.
    static constexpr std::chrono::milliseconds kHandOverEvery{15};

    struct Column {
        int x;
        WavePeak peak;
        bool full;  // the whole block was read
    };

    // Column x read through `wave` into `buffer` (a piece long, starting on
    // a kPieceAlignment boundary); `at` is where the wave stands (-1: not
    // known). False when nothing could be read.
    bool ScanColumn(TMMWave& wave, int x, uint8_t* buffer, int64_t& at, Column& column) {
        const int64_t start = int64_t(x) * block_;
        if (at != start) {
            at = -1;
            try {
                wave.SetPosition(start);
            } catch (...) {
                return false;  // an unreadable block ends the scan like the end of the data
            }
        }
        WavePeakMerger merger(eightBit_);
        int32_t got = 0;
        while (got < block_) {
            // The same pieces as one read of the whole block would gather.
            if (got > 0 && (wave.BytesLeft() <= 0 || quit_)) break;
            const int32_t want = std::min(pieceBytes_, block_ - got);
            int32_t read = -1;
            try {
                read = wave.ReadData(buffer, want);
            } catch (...) {
                read = -1;
            }
            if (read < 1) break;
            int16_t a, b, c, d;
            if (wide_) PCMFindWidePeaks(format_, buffer, uint32_t(read), a, b, c, d);
            else PCMFindPeaks(format_, buffer, uint32_t(read), a, b, c, d);
            merger.Add(WavePeak{a, b, c, d});
            got += read;
            if (read < want) break;
        }
        if (got < 1) return false;
        at = start + got;
        column.x = x;
        column.full = got >= block_;
        column.peak = merger.Result();
        if (eightBit_) {
            // Unsigned bytes around 128 onto the signed 16-bit scale.
            WavePeak& p = column.peak;
            for (int16_t* v : {&p.leftFirst, &p.leftSecond, &p.rightFirst, &p.rightSecond})
                *v = int16_t(int(*v) * 256 - 32768);
        }
        return true;
    }

    // Under mutex_: the columns known from the left, and whether that is all.
    void Advance() {
        while (done_ < end_ && have_[size_t(done_)]) ++done_;
        ended_ = done_ >= end_ || working_ == 0;
    }

    // Hands `batch` to the owner; `failed` is the column this worker could
    // not read (or -1), `last` whether it reads no more; then calls `handed`.
    void HandOver(std::vector<Column>& batch, int failed, bool last, const std::function<void()>& handed) {
        {
            std::lock_guard lock(mutex_);
            for (const Column& column : batch) {
                columns_[size_t(column.x)] = column.peak;
                have_[size_t(column.x)] = true;
                // A short column ends the data: the next one gets the end block and is the last.
                if (!column.full) end_ = std::min(end_, column.x + 2);
            }
            if (failed >= 0) end_ = std::min(end_, failed);
            if (last) --working_;
            Advance();
        }
        batch.clear();
        changed_.notify_all();
        if (handed) handed();
    }

    int End() {
        std::lock_guard lock(mutex_);
        return end_;
    }

    void Work(int k, const std::function<void()>& handed) {
        TMMWave& wave = *waves_[size_t(k)];
        std::vector<uint8_t> memory(size_t(pieceBytes_) + kPieceAlignment);
        const uintptr_t past = uintptr_t(memory.data()) % kPieceAlignment;
        uint8_t* const buffer = memory.data() + (past ? kPieceAlignment - past : 0);
        // The scan starts with the wave at the data's start.
        int64_t at = k == 0 ? 0 : -1;
        std::vector<Column> batch;
        auto handedAt = std::chrono::steady_clock::now();
        int failed = -1;
        for (int x = next_++; !quit_ && x < End(); x = next_++) {
            Column column;
            if (!ScanColumn(wave, x, buffer, at, column)) {
                failed = x;
                break;
            }
            batch.push_back(column);
            const auto now = std::chrono::steady_clock::now();
            if (column.full && now - handedAt < kHandOverEvery) continue;
            handedAt = now;
            HandOver(batch, -1, false, handed);
        }
        HandOver(batch, failed, true, handed);
    }

    const std::vector<TMMWave*> waves_;
    const int32_t block_;
    const std::function<void()> ready_;
    const WAVEFORMATEX* const format_;
    const bool eightBit_;
    const bool wide_;        // 24/32-bit integer or float: scanned on the 16-bit scale
    const int32_t frameBytes_;
    int32_t pieceBytes_ = 0;
    std::atomic<bool> quit_{false};
    std::atomic<int> next_{0};  // the next column no worker has claimed

    WavePeakTable columns_;
    std::vector<bool> have_;  // which columns are in columns_
    int done_ = 0;            // the columns known from the left
    int end_ = 0;             // no column from here on
    int working_ = 0;         // workers still reading
    bool ended_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::thread> workers_;
};

// ---- drawing ----

WaveScanPainter::WaveScanPainter(const RECT& inner, const WaveDrawColors& colors, bool marks)
    : r_(inner), colors_(colors), marks_(marks), mid_(inner.top + (inner.bottom - inner.top) / 2) {
    Restart();
}

void WaveScanPainter::Begin(HDC dc) const { Fill(dc, r_, wc::ColorToRGB(colors_.background)); }

void WaveScanPainter::Columns(HDC dc, const WavePeakTable& peaks, int from, int to) {
    if (from >= to) return;
    const int w = r_.right - r_.left;
    wc::PenHandle pen(::CreatePen(PS_SOLID, 1, wc::ColorToRGB(colors_.wave)));
    wc::DcSelection penSelected(dc, pen.get());
    wc::BrushHandle backBrush(::CreateSolidBrush(wc::ColorToRGB(colors_.background)));
    wc::BrushHandle markBrush(::CreateSolidBrush(wc::ColorToRGB(colors_.progress)));
    ::MoveToEx(dc, pen_.x, pen_.y, nullptr);
    for (int x = from; x < to; ++x) {
        const WavePeak& peak = peaks[size_t(x)];
        const RECT column{r_.left + x, r_.top, r_.left + x + 1, r_.bottom};
        ::FillRect(dc, &column, backBrush.get());
        ::LineTo(dc, r_.left + x, WaveValueY(peak.Low(), r_));
        pen_ = POINT{r_.left + x, WaveValueY(peak.High(), r_)};
        ::LineTo(dc, pen_.x, pen_.y);
        if (x < w - 1 && marks_) {
            const RECT next{column.left + 1, r_.top, column.right + 1, r_.bottom};
            ::FillRect(dc, &next, markBrush.get());
        }
    }
    ::GdiFlush();
}

void WaveScanPainter::ZeroLine(HDC dc, int x) {
    wc::PenHandle pen(::CreatePen(PS_SOLID, 1, wc::ColorToRGB(colors_.wave)));
    wc::DcSelection penSelected(dc, pen.get());
    const RECT rest{r_.left + x, r_.top, r_.right, r_.bottom};
    Fill(dc, rest, wc::ColorToRGB(colors_.background));
    ::MoveToEx(dc, r_.left + x, mid_, nullptr);
    ::LineTo(dc, r_.right, mid_);
    pen_ = POINT{r_.right, mid_};
}

// ---- the scan ----

WavePeakScan::WavePeakScan(TMMWave& wave, const RECT& area, const WaveDrawColors& colors, WavePeakTable& peaks,
                           Readers readers, std::function<void()> columnRead)
    : wave_(wave), peaks_(peaks), colors_(colors), r_(Inner(area)),
      w_(std::min<int>(r_.right - r_.left, int(peaks.size()))),
      painter_(r_, colors, wave.DataSize() > kProgressMarkDataSize), ownerReads_(readers == Readers::OwnerToo) {
    if (w_ <= 0 || r_.bottom <= r_.top) {
        w_ = 0;
        return;
    }
    std::fill(peaks_.begin(), peaks_.begin() + w_, WavePeak{});
    if (wave.IsEmpty()) {
        w_ = 0;
        return;
    }
    const int64_t dataSize = wave.DataSize();
    // A column's block is read in one go: within 32 bits, however large the file.
    int32_t block = int32_t(std::clamp<int64_t>((dataSize / w_) & ~int64_t(3), 4, kLargestColumnBlock));
    // Samples wider than 16 bits are scanned in whole frames: every
    // column starts on a frame.
    if (const WAVEFORMATEX* format = wave.PWaveFormat(); PCMIsWideFormat(format))
        block = std::max<int32_t>(block - block % format->nBlockAlign, format->nBlockAlign);
    wave.OpenFile();
    open_ = true;
    try {
        wave.SetPosition(0);
        std::vector<TMMWave*> waves{&wave};
        if (TMMWave* second = OpenSecondWave(wave)) waves.push_back(second);
        reader_ = std::make_unique<ColumnReader>(std::move(waves), block, w_, std::move(columnRead),
                                                 ownerReads_ ? 1 : 0);
    } catch (...) {
        End();
        throw;
    }
}

WavePeakScan::~WavePeakScan() { End(); }

WavePeakScan::Status WavePeakScan::Step(HDC dc, bool wait) {
    if (!reader_) return Status::Finished;
    bool ended = false;
    int known = x_;
    if (wait && std::exchange(ownerReads_, false)) {
        // The owner reads too, and draws what is known after each batch it hands over.
        reader_->ReadHere(0, [&] {
            known = reader_->Take(x_, peaks_, ended, std::chrono::milliseconds(0));
            painter_.Columns(dc, peaks_, x_, known);
            x_ = known;
        });
    }
    do {
        known = reader_->Take(x_, peaks_, ended, wait ? kWaitStep : std::chrono::milliseconds(0));
        painter_.Columns(dc, peaks_, x_, known);
        x_ = known;
    } while (wait && !ended);
    if (!ended) return Status::Running;
    if (x_ < w_) {
        const int end = WaveScanPainter::EndColumn(x_);
        peaks_[size_t(end)] = WavePeak{};
        painter_.ZeroLine(dc, end);
    }
    End();
    return Status::Finished;
}

void WavePeakScan::Replay(HDC dc) const {
    if (!Draws()) return;
    WaveScanPainter painter(r_, colors_, wave_.DataSize() > kProgressMarkDataSize);
    painter.Begin(dc);
    painter.Columns(dc, peaks_, 0, x_);
}

RECT WavePeakScan::Inner(const RECT& area) {
    RECT r = area;
    ::InflateRect(&r, -kWaveAreaInset, -kWaveAreaInset);
    return r;
}

TMMWave* WavePeakScan::OpenSecondWave(const TMMWave& wave) {
    if (std::thread::hardware_concurrency() < 2 || wave.DataSize() < kSecondReaderDataSize) return nullptr;
    try {
        auto second = std::make_unique<TMMWave>();
        second->Assign(&wave);
        second->OpenFile();
        second_ = std::move(second);
    } catch (...) {
        return nullptr;
    }
    return second_.get();
}

void WavePeakScan::End() {
    reader_.reset();
    if (second_) second_->CloseFile();
    second_.reset();
    if (open_) wave_.CloseFile();
    open_ = false;
}

void DrawWavePeaks(HDC dc, const RECT& area, TMMWave& wave, const WaveDrawColors& colors, WavePeakTable& peaks) {
    // The hourglass while the caller waits; the default cursor comes back however the scan ends.
    struct Cursor {
        HCURSOR previous = nullptr;
        bool shown = false;
        ~Cursor() {
            if (shown) ::SetCursor(previous);
        }
    } cursor;
    WavePeakScan scan(wave, area, colors, peaks, WavePeakScan::Readers::OwnerToo, nullptr);
    if (!scan.Draws()) return;
    cursor.previous = ::SetCursor(::LoadCursorA(nullptr, IDC_WAIT));
    cursor.shown = true;
    scan.Begin(dc);
    scan.Step(dc, true);
}

void PaintWavePeaks(HDC dc, const RECT& inner, const WavePeakTable& peaks, wc::TColor color) {
    const int w = std::min<int>(inner.right - inner.left, int(peaks.size()));
    if (w <= 0 || inner.bottom <= inner.top) return;
    wc::PenHandle pen(::CreatePen(PS_SOLID, 1, wc::ColorToRGB(color)));
    wc::DcSelection selected(dc, pen.get());
    ::MoveToEx(dc, inner.left, WaveValueY(peaks[0].Low(), inner), nullptr);
    ::LineTo(dc, inner.left, WaveValueY(peaks[0].High(), inner));
    for (int x = 0; x < w; ++x) {
        ::LineTo(dc, inner.left + x, WaveValueY(peaks[size_t(x)].Low(), inner));
        ::LineTo(dc, inner.left + x, WaveValueY(peaks[size_t(x)].High(), inner));
    }
}
