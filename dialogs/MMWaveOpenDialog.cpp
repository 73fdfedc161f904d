// The wave file chooser's preview panel.
//
// How it works. The dialog template puts a format label, a waveform area
// (1004), a picture area (1005), "Play", "Preview" and "Auto Play" under the
// system's file list. The two areas are statics whose window procedures are
// replaced, so the panel paints them itself. A selection change only closes
// playback, notes the new name and (re)starts timer 99 of the waveform
// area; the file is opened (once), described and drawn when that timer
// fires, so scrolling through the list with the keyboard opens one file, not all.
// The waveform is computed once per selection into the peak table (one
// block read and one peak scan per pixel column); repaints, and ticking
// Preview again, draw from the table and touch no file. Playback runs the
// chain wave file -> ADPCM converter -> wave output; a 50 ms timer moves the
// play position line, drawn in XOR so that drawing it again erases it.
//
// Threads: everything here runs on the dialog's thread except
// ColumnReader::Work, which runs on the scan's workers and reads and scans
// the wave's column blocks while the dialog keeps answering its messages;
// the columns they hand over and their progress are guarded by
// ColumnReader::mutex_. The wave is left to the workers from the scan's
// start to its end or cancel (a new selection, closing the dialog,
// unticking Preview), and Play waits for that end. The workers ask for the
// next scan step by posting kScanStepMessage to the waveform area;
// `stepPosted_` keeps one on its way.
#include "dialogs/MMCstDlg.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/Exceptions.h"
#include "framework/Forms.h"
#include "framework/Timers.h"
#include "media/codecs/MMADCvt.h"
#include "media/MMMessages.h"
#include "media/codecs/MMPCMSup.h"
#include "media/playback/MMWavOut.h"
#include "media/wave/MMWave.h"
#include "media/wave/MMWaveIO.h"

namespace {

constexpr int kPlayButton = 1000;
constexpr int kPreviewCheck = 1001;
constexpr int kAutoPlayCheck = 1002;
constexpr int kFormatLabel = 1003;
constexpr int kWaveArea = 1004;
constexpr int kPictureArea = 1005;

// Timer of the waveform area: one panel update after a run of quick selection changes.
constexpr UINT_PTR kUpdateTimerId = 99;
constexpr UINT kUpdateDelayMs = 50;
// The waveform scan: the message that draws the columns scanned by then.
constexpr UINT kScanStepMessage = WM_APP + 0x316;
// How often the play position line moves.
constexpr UINT kLocatorIntervalMs = 50;

// The preview wave reads whole columns of samples at a time: a large file buffer.
constexpr int32_t kPreviewIOBufferSize = 131072;
constexpr int32_t kPreviewOutputBufferSize = 32768;
constexpr int32_t kPreviewOutputBuffers = 10;
// The largest block of one column: reads count in 32 bits.
constexpr int64_t kLargestColumnBlock = INT32_MAX & ~3;
// Above this many data bytes the scan takes long enough to show its progress.
constexpr int64_t kProgressMarkDataSize = 2097152;
// The waveform is drawn inside the area's two bevels.
constexpr int kAreaInset = 2;
// The grey zero line of an area without waveform keeps this far from the edges.
constexpr int kZeroLineMargin = 5;
constexpr COLORREF kZeroLineColor = RGB(0x80, 0x80, 0x80);

// Sample rates are counted by their low 16 bits, as the output's table was made for.
constexpr uint32_t kRateMask = 0xFFFF;
// Rates above the table's last step: the step after 3072, so that the size
// depends on the format alone and repeated selections cannot grow it.
constexpr int32_t kHighRateBufferSize = 4096;

// A subclassed area finds its panel through this window property.
constexpr char kPanelProperty[] = "WcWavePreviewPanel";

// Packed device-independent bitmaps larger than this are not drawn.
constexpr int32_t kMaxPictureSide = 16384;

bool IsAbsolute(std::string_view name) {
    if (!name.empty() && name[0] == '\\') return true;
    const bool letter = !name.empty() && ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
    return name.size() >= 3 && letter && name[1] == ':' && name[2] == '\\';
}

// A sunken bevel: `topLeft` along the top and left edges, `bottomRight` along the others.
void Bevel(HDC dc, const RECT& r, COLORREF topLeft, COLORREF bottomRight) {
    if (r.right <= r.left || r.bottom <= r.top) return;
    wc::BrushHandle light(::CreateSolidBrush(topLeft)), dark(::CreateSolidBrush(bottomRight));
    const RECT top{r.left, r.top, r.right, r.top + 1}, left{r.left, r.top, r.left + 1, r.bottom};
    const RECT bottom{r.left, r.bottom - 1, r.right, r.bottom}, right{r.right - 1, r.top, r.right, r.bottom};
    ::FillRect(dc, &top, light.get());
    ::FillRect(dc, &left, light.get());
    ::FillRect(dc, &bottom, dark.get());
    ::FillRect(dc, &right, dark.get());
}

void Fill(HDC dc, const RECT& r, COLORREF color) {
    wc::BrushHandle brush(::CreateSolidBrush(color));
    ::FillRect(dc, &r, brush.get());
}

// An off-screen copy of a window's client area, copied to the window on destruction.
class OffscreenPaint {
public:
    OffscreenPaint(HDC target, const RECT& client)
        : target_(target),
          width_(std::max<LONG>(client.right - client.left, 1)),
          height_(std::max<LONG>(client.bottom - client.top, 1)),
          dc_(::CreateCompatibleDC(target)),
          bitmap_(::CreateCompatibleBitmap(target, width_, height_)),
          selection_(dc_.get(), bitmap_.get()) {}
    ~OffscreenPaint() { ::BitBlt(target_, 0, 0, width_, height_, dc_.get(), 0, 0, SRCCOPY); }
    HDC get() const noexcept { return dc_.get(); }

private:
    HDC target_;
    int width_, height_;
    wc::MemoryDcHandle dc_;
    wc::BitmapHandle bitmap_;
    wc::DcSelection selection_;
};

// Draws a packed DIB (header, colours, bits) stretched into `r`, with its
// palette realised when it has one. False, with nothing drawn, for data
// that is not a complete bitmap of a kind the system draws.
bool DrawPackedDib(HDC dc, const RECT& r, const std::vector<uint8_t>& data) {
    if (data.size() < sizeof(BITMAPINFOHEADER)) return false;
    BITMAPINFOHEADER header;
    std::memcpy(&header, data.data(), sizeof header);
    if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biSize > data.size()) return false;
    const int64_t width = header.biWidth, height = header.biHeight < 0 ? -int64_t(header.biHeight) : header.biHeight;
    if (width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide || header.biPlanes != 1)
        return false;
    const int bits = header.biBitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
    int64_t colors = header.biClrUsed;
    if (colors == 0 && bits <= 8) colors = int64_t(1) << bits;
    if (colors > 256) return false;
    int64_t masks = 0;
    if (header.biCompression == BI_BITFIELDS) {
        if (bits != 16 && bits != 32) return false;
        if (header.biSize == sizeof(BITMAPINFOHEADER)) masks = 3;
    } else if (header.biCompression != BI_RGB && header.biCompression != BI_RLE8 &&
               header.biCompression != BI_RLE4) {
        return false;  // compressed pictures (JPEG, PNG) are left to others
    }
    const int64_t bitsOffset = int64_t(header.biSize) + (masks + colors) * 4;
    const int64_t stride = ((width * bits + 31) / 32) * 4;
    const int64_t needed = (header.biCompression == BI_RLE8 || header.biCompression == BI_RLE4)
                               ? int64_t(header.biSizeImage)
                               : stride * height;
    if (needed <= 0 || bitsOffset + needed > int64_t(data.size())) return false;

    const auto* info = reinterpret_cast<const BITMAPINFO*>(data.data());
    wc::GdiObject<HPALETTE> palette;
    HPALETTE previous = nullptr;
    if (bits <= 8 && colors > 0) {
        std::vector<uint8_t> block(sizeof(LOGPALETTE) + size_t(colors) * sizeof(PALETTEENTRY));
        auto* logical = reinterpret_cast<LOGPALETTE*>(block.data());
        logical->palVersion = 0x300;
        logical->palNumEntries = WORD(colors);
        const uint8_t* quad = data.data() + header.biSize;
        for (int64_t i = 0; i < colors; ++i, quad += 4)
            logical->palPalEntry[i] = PALETTEENTRY{quad[2], quad[1], quad[0], 0};
        palette.reset(::CreatePalette(logical));
        if (palette) {
            previous = ::SelectPalette(dc, palette.get(), FALSE);
            ::RealizePalette(dc);
        }
    }
    ::SetStretchBltMode(dc, COLORONCOLOR);
    const int drawn = ::StretchDIBits(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, 0, 0, int(width),
                                      int(height), data.data() + bitsOffset, info, DIB_RGB_COLORS, SRCCOPY);
    if (previous) ::SelectPalette(dc, previous, FALSE);
    return drawn != 0 && drawn != int(GDI_ERROR);
}

// "BMP_WAVE" at the top-left corner of `r`, its bottom-left pixel's colour left out.
void DrawDefaultPicture(HDC dc, const RECT& r) {
    wc::BitmapHandle bitmap(::LoadBitmapA(::GetModuleHandleA(nullptr), "BMP_WAVE"));
    if (!bitmap) return;
    BITMAP info{};
    ::GetObjectA(bitmap.get(), sizeof info, &info);
    wc::MemoryDcHandle source(::CreateCompatibleDC(dc));
    wc::DcSelection selected(source.get(), bitmap.get());
    const COLORREF transparent = ::GetPixel(source.get(), 0, info.bmHeight - 1);
    ::TransparentBlt(dc, r.left, r.top, info.bmWidth, info.bmHeight, source.get(), 0, 0, info.bmWidth,
                     info.bmHeight, transparent);
}

// Reads and scans the wave's column blocks on helper threads, so that the
// dialog goes on answering while a large file is scanned.
//
// How it works. Each worker reads through a wave of its own, open on the
// same file: on a machine with two processors a large file gets a second
// wave, and the two workers take the columns in turn (even and odd), so
// that both the copying out of the system's file cache and the scan run
// on both processors, and the columns still arrive from left to right.
// Each column's block is read in pieces small enough to stay in the
// processor's cache while they are scanned (and large enough to be read
// without a copy through the file buffer); the pieces' peaks are merged
// into the column's. A worker positions its wave at the start of each of
// its columns, so it reads exactly the block one read of the whole file in
// column order would have given that column, up to the end of the data:
// the column after a short one is the last, and gets the wave's end block.
//
// Threads: worker k runs Work(k) and is the only one to touch waves_[k]
// while this lives (the owner opens the waves before and closes them
// after); the owner's thread takes the finished columns with Take.
// `mutex_` guards `columns_`, `have_`, `done_`, `end_`, `ended_` and
// `working_`; `quit_` is atomic.
class ColumnReader {
public:
    // `ready` (may be empty) is called on a worker after each batch of columns.
    ColumnReader(std::vector<TMMWave*> waves, int32_t block, int blocks, std::function<void()> ready)
        : waves_(std::move(waves)), block_(block), ready_(std::move(ready)), format_(waves_[0]->PWaveFormat()),
          eightBit_(waves_[0]->BitLength() == 8), wide_(PCMIsWideFormat(format_)),
          frameBytes_(wide_ ? format_->nBlockAlign : 1),
          dataOffset_(waves_[0]->Handle() ? waves_[0]->Handle()->dataOffset : 0), columns_(size_t(blocks)),
          have_(size_t(blocks)) {
        // Pieces of whole frames, so no frame is split between two scans.
        pieceBytes_ = std::min(kPieceBytes - kPieceBytes % frameBytes_, block_);
        // The columns that hold data, and the one behind them that gets the end block.
        const int64_t total = waves_[0]->PlayListBytes();
        end_ = int(std::min<int64_t>(blocks, (total + block_ - 1) / block_ + 1));
        working_ = int(waves_.size());
        for (int k = 0; k < int(waves_.size()); ++k) workers_.emplace_back([this, k] { Work(k); });
    }
    ~ColumnReader() {
        // A worker looks at quit_ before each piece: all end within one piece's read.
        quit_ = true;
        for (std::thread& worker : workers_) worker.join();
    }
    ColumnReader(const ColumnReader&) = delete;
    ColumnReader& operator=(const ColumnReader&) = delete;

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
    // A cache line: read to an address placed within its line as the file
    // offset is, the copy out of the system's file cache runs faster than
    // to any other place.
    static constexpr uint32_t kCopyAlignment = 64;
    // Finished columns are handed to the owner in batches, at most this
    // often (and at the end): each hand-over wakes the owner's thread,
    // which under load costs more than scanning a column.
    static constexpr std::chrono::milliseconds kHandOverEvery{15};

    struct Column {
        int x;
        WavePeak peak;
        bool full;  // the whole block was read
    };

    // Column x read through `wave` into `buffer` (kCopyAlignment bytes
    // longer than a piece, starting on such a boundary); `at` is where the
    // wave stands (-1: not known). False when nothing could be read.
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
            uint8_t* const piece = buffer + (dataOffset_ + uint64_t(start) + uint64_t(got)) % kCopyAlignment;
            int32_t read = -1;
            try {
                read = wave.ReadData(piece, want);
            } catch (...) {
                read = -1;
            }
            if (read < 1) break;
            int16_t a, b, c, d;
            if (wide_) PCMFindWidePeaks(format_, piece, uint32_t(read), a, b, c, d);
            else PCMFindPeaks(format_, piece, uint32_t(read), a, b, c, d);
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
    // not read (or -1), `last` whether it reads no more.
    void HandOver(std::vector<Column>& batch, int failed, bool last) {
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
        if (ready_) ready_();
    }

    int End() {
        std::lock_guard lock(mutex_);
        return end_;
    }

    void Work(int k) {
        TMMWave& wave = *waves_[size_t(k)];
        std::vector<uint8_t> memory(size_t(pieceBytes_) + 2 * kCopyAlignment);
        uint8_t* const buffer = memory.data() + (kCopyAlignment - uintptr_t(memory.data()) % kCopyAlignment);
        const int step = int(waves_.size());
        // The scan starts with the wave at the data's start.
        int64_t at = k == 0 ? 0 : -1;
        std::vector<Column> batch;
        auto handed = std::chrono::steady_clock::now();
        int failed = -1;
        for (int x = k; !quit_ && x < End(); x += step) {
            Column column;
            if (!ScanColumn(wave, x, buffer, at, column)) {
                failed = x;
                break;
            }
            batch.push_back(column);
            const auto now = std::chrono::steady_clock::now();
            if (column.full && now - handed < kHandOverEvery) continue;
            handed = now;
            HandOver(batch, -1, false);
        }
        HandOver(batch, failed, true);
    }

    const std::vector<TMMWave*> waves_;
    const int32_t block_;
    const std::function<void()> ready_;
    const WAVEFORMATEX* const format_;
    const bool eightBit_;
    const bool wide_;        // 24/32-bit integer or float: scanned on the 16-bit scale
    const int32_t frameBytes_;
    const uint64_t dataOffset_;  // where the data starts in the file
    int32_t pieceBytes_ = 0;
    std::atomic<bool> quit_{false};

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

}  // namespace

// ---- free helpers ----

int WaveValueY(int value, const RECT& area) noexcept {
    const int64_t height = area.bottom - area.top;
    return int(area.bottom - ((int64_t(value) + 32767) * height / 65535) - 1);
}

std::string ReduceSelectedName(std::string_view text) {
    const size_t quote = text.find('"');
    if (quote == std::string_view::npos) {
        std::string name(text);
        if (!name.empty() && name.back() == '\\') name.pop_back();
        return name;
    }
    std::string folder(text.substr(0, quote));
    if (!folder.empty() && folder.back() == '\\') folder.pop_back();
    std::string last;
    for (size_t at = quote; at < text.size();) {
        const size_t open = text.find('"', at);
        if (open == std::string_view::npos) break;
        size_t close = text.find('"', open + 1);
        if (close == std::string_view::npos) close = text.size();  // an unclosed name runs to the end
        const std::string_view name = text.substr(open + 1, close - open - 1);
        if (!name.empty()) last = IsAbsolute(name) ? std::string(name) : folder + "\\" + std::string(name);
        at = close + 1;
    }
    return last.empty() ? folder : last;
}

int32_t PreviewBufferSize(const WAVEFORMATEX* format) noexcept {
    if (!format) return kPreviewOutputBufferSize;
    const uint32_t rate = format->nSamplesPerSec & kRateMask;
    int32_t size = rate <= 15000   ? 512
                   : rate <= 24000 ? 1024
                   : rate <= 32000 ? 2048
                   : rate <= 48000 ? 3072
                                   : kHighRateBufferSize;
    const int bits = format->wBitsPerSample;
    if (bits == 1) size /= 16;
    else if (bits >= 2 && bits <= 4) size /= 8;
    else if (bits >= 5 && bits <= 7) size /= 4;
    else if (bits >= 9 && bits <= 16) size *= 2;
    else size *= 4;  // 8 bits and any other width
    return size;
}

// ---- the waveform scan ----

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

// Draws the scan's columns as they become known: per column the column is
// cleared, a line goes from the previous column's end to the column's low
// point and on to its high point, and for large waves the next column
// shows the progress mark. The pen's place is kept here, so the columns may
// be drawn in any number of batches, on any device context of the area,
// with the same pixels as in one go.
class WaveScanPainter {
public:
    WaveScanPainter(const RECT& inner, const WaveDrawColors& colors, bool marks)
        : r_(inner), colors_(colors), marks_(marks), mid_(inner.top + (inner.bottom - inner.top) / 2) {
        Restart();
    }
    void Restart() noexcept { pen_ = POINT{r_.left, mid_}; }
    // The area cleared to the background, as the scan starts.
    void Begin(HDC dc) const { Fill(dc, r_, wc::ColorToRGB(colors_.background)); }
    // Columns [from, to) of the table.
    void Columns(HDC dc, const WavePeakTable& peaks, int from, int to) {
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
    // Short (or unreadable) data ended the scan at column `x` (the first
    // not read): the rest of the area is the zero line, without a progress
    // mark left standing in it. The last column read holds the wave's end
    // block of zero bytes, not samples: on an 8-bit wave it would stand as
    // a spike to the bottom edge, so it joins the zero line too, in the
    // table as on the screen.
    static int EndColumn(int x) noexcept { return std::max(x - 1, 0); }
    void ZeroLine(HDC dc, int x) {
        wc::PenHandle pen(::CreatePen(PS_SOLID, 1, wc::ColorToRGB(colors_.wave)));
        wc::DcSelection penSelected(dc, pen.get());
        const RECT rest{r_.left + x, r_.top, r_.right, r_.bottom};
        Fill(dc, rest, wc::ColorToRGB(colors_.background));
        ::MoveToEx(dc, r_.left + x, mid_, nullptr);
        ::LineTo(dc, r_.right, mid_);
        pen_ = POINT{r_.right, mid_};
    }

private:
    RECT r_;
    WaveDrawColors colors_;
    bool marks_;
    int mid_;
    POINT pen_{};
};

// One scan of a wave into the peak table, one block read and one peak
// scan per pixel column, drawn as it goes. The blocks are read and scanned
// on helper threads (ColumnReader); the drawing runs on the thread that
// owns the scan, in steps that each draw the columns known by then. The
// wave is open from the start of the scan to its end (or its cancelling:
// destroying the scan stops the workers within one piece and closes the
// file).
class WavePeakScan {
public:
    enum class Status { Running, Finished };

    // Zeroes the table's first w entries; nothing else for an empty wave.
    // Opens the wave (EMMWaveError passes on, the file closed again).
    WavePeakScan(TMMWave& wave, const RECT& area, const WaveDrawColors& colors, WavePeakTable& peaks,
                 std::function<void()> columnRead)
        : wave_(wave), peaks_(peaks), colors_(colors), r_(Inner(area)),
          w_(std::min<int>(r_.right - r_.left, int(peaks.size()))),
          painter_(r_, colors, wave.DataSize() > kProgressMarkDataSize) {
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
            reader_ = std::make_unique<ColumnReader>(std::move(waves), block, w_, std::move(columnRead));
        } catch (...) {
            End();
            throw;
        }
    }
    ~WavePeakScan() { End(); }
    WavePeakScan(const WavePeakScan&) = delete;
    WavePeakScan& operator=(const WavePeakScan&) = delete;

    // Whether the scan draws anything (not for an empty wave or area).
    bool Draws() const noexcept { return w_ > 0; }

    void Begin(HDC dc) const {
        if (Draws()) painter_.Begin(dc);
    }
    // Draws the columns scanned by now; with `wait`, waits for every column.
    Status Step(HDC dc, bool wait) {
        if (!reader_) return Status::Finished;
        bool ended = false;
        int known = x_;
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
    // Draws again what the scan has drawn so far (a repaint while it runs).
    void Replay(HDC dc) const {
        if (!Draws()) return;
        WaveScanPainter painter(r_, colors_, wave_.DataSize() > kProgressMarkDataSize);
        painter.Begin(dc);
        painter.Columns(dc, peaks_, 0, x_);
    }

private:
    static constexpr std::chrono::milliseconds kWaitStep{100};
    // Below this many data bytes the scan takes a few milliseconds: one
    // worker, and no second parse of the file.
    static constexpr int64_t kSecondReaderDataSize = 16 << 20;

    static RECT Inner(const RECT& area) {
        RECT r = area;
        ::InflateRect(&r, -kAreaInset, -kAreaInset);
        return r;
    }
    // A second wave on the same file for a second worker, when the machine
    // has a second processor and the file is large enough to gain more
    // than parsing its header again costs; null otherwise, or when it
    // cannot be opened (one worker reads it all then).
    TMMWave* OpenSecondWave(const TMMWave& wave) {
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
    void End() {
        reader_.reset();
        if (second_) second_->CloseFile();
        second_.reset();
        if (open_) wave_.CloseFile();
        open_ = false;
    }

    TMMWave& wave_;
    WavePeakTable& peaks_;
    WaveDrawColors colors_;
    RECT r_;
    int w_;
    WaveScanPainter painter_;
    bool open_ = false;
    int x_ = 0;  // the next column to draw
    std::unique_ptr<TMMWave> second_;  // open while the scan runs, or null
    std::unique_ptr<ColumnReader> reader_;
};

void DrawWavePeaks(HDC dc, const RECT& area, TMMWave& wave, const WaveDrawColors& colors, WavePeakTable& peaks) {
    // The hourglass while the caller waits; the default cursor comes back however the scan ends.
    struct Cursor {
        HCURSOR previous = nullptr;
        bool shown = false;
        ~Cursor() {
            if (shown) ::SetCursor(previous);
        }
    } cursor;
    WavePeakScan scan(wave, area, colors, peaks, nullptr);
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

// ---- TMMWaveOpenDialog ----

TMMWaveOpenDialog::TMMWaveOpenDialog(wc::TComponent* owner) : TMMCustomOpenDialog(owner) {
    Filter = MMLoadString(MMMsg::WaveFilter);
    Title = MMLoadString(MMMsg::OpenWaveFile);
    Options = ofHideReadOnly | ofNoNetworkButton;
    OptionsEx = ofExNoPlacesBar;
    DefaultExt = "wav";
    TemplateName = "CustomWaveOpenDlg";
}

TMMWaveOpenDialog::~TMMWaveOpenDialog() = default;

bool TMMWaveOpenDialog::SetProperty(const std::string& name, const wc::LayoutValue& value) {
    if (name == "Color") Color = wc::LayoutColor(value);
    else if (name == "ForeColor") ForeColor = wc::LayoutColor(value);
    else if (name == "LocatorColor") LocatorColor = wc::LayoutColor(value);
    else if (name == "Preview") Preview = value.AsBoolean();
    else if (name == "AutoPlay") AutoPlay = value.AsBoolean();
    else if (name == "DeviceID") {
        TMMDeviceId id = MapperId;
        if (value.kind == wc::LayoutValue::Kind::Identifier) {
            if (!IdentToDeviceId(value.AsIdentifier(), id)) throw wc::Exception("Invalid device id " + value.AsIdentifier());
        } else {
            id = value.AsInteger();
        }
        DeviceID = id;
    } else {
        return TMMCustomOpenDialog::SetProperty(name, value);
    }
    return true;
}

HWND TMMWaveOpenDialog::Control(int id) const { return Window() ? ::GetDlgItem(Window(), id) : nullptr; }

bool TMMWaveOpenDialog::CanDrawWave() const {
    if (!source_) return false;
    const TMMWave& wave = source_->Wave();
    const WAVEFORMATEX* format = wave.PWaveFormat();
    return !wave.FileName().empty() && format && (wave.FormatTag() == WAVE_FORMAT_PCM || PCMIsWideFormat(format)) &&
           wave.DataSize() > 0 && format->nChannels <= 2;
}

bool TMMWaveOpenDialog::Playing() const { return output_ && (output_->State() & wosPlaying) != 0; }

bool TMMWaveOpenDialog::HasOutputDevice() const { return output_ && output_->NumDevs() > 0; }

bool TMMWaveOpenDialog::OutputAcceptsFormat() const {
    return output_ && output_->QueryFormat(output_->DeviceID(), output_->PWaveFormat());
}

void TMMWaveOpenDialog::StartPlayback() {
    try {
        output_->Start();
    } catch (...) {
        // The output has told OnError and closed itself; the panel stays as it is.
    }
}

void TMMWaveOpenDialog::DoShowDialog() {
    HWND area = Control(kWaveArea), picture = Control(kPictureArea);
    if (area && waveArea_.window() != area) {
        ::SetPropA(area, kPanelProperty, this);
        waveArea_ = wc::WindowSubclass(area, &TMMWaveOpenDialog::WaveAreaProc);
    }
    if (picture && picture_.window() != picture) {
        ::SetPropA(picture, kPanelProperty, this);
        picture_ = wc::WindowSubclass(picture, &TMMWaveOpenDialog::PictureProc);
    }
    if (!chainBuilt_) {
        RECT client{};
        if (area) ::GetClientRect(area, &client);
        peaks_.assign(size_t(std::max<LONG>(client.right - client.left, 0)), WavePeak{});
        source_ = std::make_unique<TMMWaveFile>(nullptr);
        source_->Wave().SetTimeFormat(tfByte);
        source_->Wave().SetIOBufferSize(kPreviewIOBufferSize);
        converter_ = std::make_unique<TMMADPCMConverter>(nullptr);
        converter_->SetInput(source_.get());
        output_ = std::make_unique<TMMWaveOut>(nullptr);
        output_->SetInput(converter_.get());
        output_->OnStart = [this](wc::TComponent* sender) { PlaybackStarted(sender); };
        output_->OnStop = [this](wc::TComponent* sender) { PlaybackStopped(sender); };
        output_->SetBufferSize(kPreviewOutputBufferSize);
        output_->SetNumBuffers(kPreviewOutputBuffers);
        output_->SetTimeFormat(tfByte);
        if (output_->NumDevs() == 0) ::EnableWindow(Control(kAutoPlayCheck), FALSE);
        else output_->SetDeviceID(DeviceID);
        timer_ = std::make_unique<wc::TTimer>(nullptr);
        timer_->SetEnabled(false);
        timer_->SetInterval(kLocatorIntervalMs);
        timer_->SetOnTimer([this](wc::TComponent* sender) { LocatorTick(sender); });
        chainBuilt_ = true;
    }
    ::EnableWindow(Control(kPlayButton), FALSE);
    ::EnableWindow(Control(kPreviewCheck), FALSE);
    ::SetWindowTextA(Control(kPreviewCheck), MMLoadString(MMMsg::Preview).c_str());
    ::CheckDlgButton(Window(), kPreviewCheck, Preview ? BST_CHECKED : BST_UNCHECKED);
    ::CheckDlgButton(Window(), kAutoPlayCheck, AutoPlay ? BST_CHECKED : BST_UNCHECKED);
    TMMCustomOpenDialog::DoShowDialog();
}

void TMMWaveOpenDialog::DoCloseDialog() {
    if (HWND area = waveArea_.window()) ::KillTimer(area, kUpdateTimerId);
    CancelScan();
    peaksKnown_ = false;
    autoStartPending_ = false;
    redrawPending_ = false;
    pendingSelection_ = false;
    pendingName_.clear();
    peaks_.clear();
    if (output_) output_->Close();
    output_.reset();
    converter_.reset();
    if (source_) source_->Wave().ClearWave();
    source_.reset();
    timer_.reset();
    chainBuilt_ = false;
    locator_ = -1;
    for (wc::WindowSubclass* subclass : {&waveArea_, &picture_}) {
        if (HWND window = subclass->window()) ::RemovePropA(window, kPanelProperty);
        subclass->restore();
    }
    TMMCustomOpenDialog::DoCloseDialog();
}

void TMMWaveOpenDialog::DoFileOK(const std::string& fileName, bool& isOk) {
    isOk = IsWaveFile(fileName.c_str());
    if (isOk) {
        TMMCustomOpenDialog::DoFileOK(fileName, isOk);
        return;
    }
    // The message box belongs to the dialog frame (the hook window itself for old-style dialogs).
    HWND owner = Window();
    if (owner && (::GetWindowLongA(owner, GWL_STYLE) & WS_CHILD)) owner = ::GetParent(owner);
    ::MessageBoxA(owner, MMLoadString(MMMsg::InvalidWaveFileChosen).c_str(), Title.c_str(), MB_OK | MB_ICONERROR);
}

void TMMWaveOpenDialog::DoSelChange(const std::string& fileName) {
    if (source_) {
        const std::string name = ReduceSelectedName(fileName);
        const std::string& shown = pendingSelection_ ? pendingName_ : source_->Wave().FileName();
        if (name != shown) {
            // Playback stops now; the file is opened when the timer fires, so
            // that a quick run of selections opens only the last one.
            CancelScan();
            peaksKnown_ = false;
            autoStartPending_ = false;
            output_->Close();
            pendingName_ = name;
            pendingSelection_ = true;
            redrawPending_ = true;
            if (HWND area = waveArea_.window()) ::SetTimer(area, kUpdateTimerId, kUpdateDelayMs, nullptr);
        }
    }
    TMMCustomOpenDialog::DoSelChange(fileName);
}

void TMMWaveOpenDialog::OpenSelection() {
    if (!pendingSelection_ || !source_) return;
    pendingSelection_ = false;
    const std::string name = std::exchange(pendingName_, std::string());
    TMMWave& wave = source_->Wave();
    if (name == wave.FileName()) return;
    // A Preview tick meanwhile may have begun a scan of the wave, or Play a playback.
    CancelScan();
    peaksKnown_ = false;
    output_->Close();
    try {
        // One parse: a name that is no wave refuses to be set, and the panel shows "Unknown".
        bool isWave = true;
        try {
            wave.SetFileName(name);
        } catch (const EMMWaveError&) {
            isWave = false;
        }
        if (isWave && !wave.FileName().empty()) {
            // Asked with the converter on: a disabled one would pass anything as playable.
            converter_->SetEnabled(true);
            converter_->SetEnabled(converter_->CanPlayInput());
        } else {
            wave.ClearWave();
        }
    } catch (...) {
        // The panel must not go on describing the previous file as this one.
        wave.ClearWave();
        throw;
    }
}

void TMMWaveOpenDialog::UpdatePanel() {
    HWND hook = Window();
    if (!hook || !source_) return;
    HWND area = Control(kWaveArea), picture = Control(kPictureArea), play = Control(kPlayButton);
    if (picture) {
        wc::WindowDc dc(picture);
        PaintPicture(dc.get());
    }
    ::EnableWindow(Control(kPreviewCheck), FALSE);
    TMMWave& wave = source_->Wave();
    if (wave.FileName().empty()) {
        ::SetDlgItemTextA(hook, kFormatLabel, MMLoadString(MMMsg::Unknown).c_str());
        ::EnableWindow(play, FALSE);
        if (area) ::InvalidateRect(area, nullptr, FALSE);
        return;
    }
    std::string name, description;
    WaveFormatTexts(wave.PWaveFormat(), name, description);
    const std::string text = name + "; " + description + "; " + std::to_string(wave.FileSize() / 1024) + " KB";
    ::SetDlgItemTextA(hook, kFormatLabel, text.c_str());

    if (CanDrawWave()) {
        ::EnableWindow(Control(kPreviewCheck), TRUE);
        if (Preview && area && peaksKnown_) {
            // Drawn before for this selection: the table has it, the file is not read again.
            ::InvalidateRect(area, nullptr, FALSE);
        } else if (Preview && area) {
            RECT client;
            ::GetClientRect(area, &client);
            wc::WindowDc dc(area);
            DrawWaveform(dc.get(), client);
        } else if (area) {
            ::InvalidateRect(area, nullptr, FALSE);
        }
    } else {
        std::fill(peaks_.begin(), peaks_.end(), WavePeak{});
        peaksKnown_ = false;
        if (area) ::InvalidateRect(area, nullptr, FALSE);
    }
    UpdatePlayButton(true);
}

bool TMMWaveOpenDialog::PlayAllowed() const {
    return source_ && !source_->Wave().FileName().empty() && HasOutputDevice() && !source_->Wave().IsEmpty() &&
           OutputAcceptsFormat();
}

void TMMWaveOpenDialog::UpdatePlayButton(bool autoStart) {
    HWND play = Control(kPlayButton);
    if (scan_) {
        // The scan reads the wave that playback would read: Play waits for its end.
        ::EnableWindow(play, FALSE);
        autoStartPending_ = autoStartPending_ || autoStart;
        return;
    }
    if (!PlayAllowed() || Playing()) {
        ::EnableWindow(play, FALSE);
        return;
    }
    AdjustOutputBuffer();
    ::EnableWindow(play, TRUE);
    // A selection still to be opened starts when its own update comes.
    if (autoStart && AutoPlay && !pendingSelection_) StartPlayback();
}

void TMMWaveOpenDialog::AdjustOutputBuffer() {
    if (!output_ || !output_->PWaveFormat()) return;
    const int32_t size = PreviewBufferSize(output_->PWaveFormat());
    if (size == output_->BufferSize()) return;
    // The size cannot change while the device is open, even when idle after a play.
    output_->Close();
    output_->SetBufferSize(size);
}

void TMMWaveOpenDialog::DrawWaveform(HDC dc, const RECT& area) {
    if (!source_) return;
    if (!Preview) {
        RECT r = area;
        ::InflateRect(&r, -kAreaInset, -kAreaInset);
        const int w = std::min<int>(r.right - r.left, int(peaks_.size()));
        if (w > 0) std::fill(peaks_.begin(), peaks_.begin() + w, WavePeak{});
        return;
    }
    CancelScan();
    HWND window = waveArea_.window();
    auto scan = std::make_unique<WavePeakScan>(
        source_->Wave(), area, WaveDrawColors{Color, ForeColor, LocatorColor}, peaks_, [this, window] {
            // Reader thread: one step message at a time is enough.
            if (!stepPosted_.exchange(true)) ::PostMessageA(window, kScanStepMessage, 0, 0);
        });
    if (!scan->Draws()) return;
    scan->Begin(dc);
    scan_ = std::move(scan);
    // A step message of an earlier scan may have died with its window.
    stepPosted_ = false;
    ::PostMessageA(window, kScanStepMessage, 0, 0);
}

void TMMWaveOpenDialog::ContinueScan() {
    stepPosted_ = false;
    HWND area = Control(kWaveArea);
    if (!scan_ || !area) return;
    WavePeakScan::Status status;
    {
        wc::WindowDc dc(area);
        status = scan_->Step(dc.get(), false);
    }
    if (status == WavePeakScan::Status::Running) return;  // the reader posts again
    scan_.reset();
    peaksKnown_ = true;
    const bool autoStart = std::exchange(autoStartPending_, false);
    UpdatePlayButton(autoStart);
}

void TMMWaveOpenDialog::CancelScan() {
    if (!scan_) return;
    scan_.reset();  // stops the reader and closes the file
    peaksKnown_ = false;
}

void TMMWaveOpenDialog::PaintWaveArea(HDC dc) {
    HWND area = Control(kWaveArea);
    if (!area) return;
    RECT client;
    ::GetClientRect(area, &client);
    OffscreenPaint paint(dc, client);
    RECT r = client;
    Fill(paint.get(), r, wc::ColorToRGB(Color));
    Bevel(paint.get(), r, ::GetSysColor(COLOR_BTNSHADOW), ::GetSysColor(COLOR_BTNHIGHLIGHT));
    ::InflateRect(&r, -1, -1);
    Bevel(paint.get(), r, ::GetSysColor(COLOR_WINDOWFRAME), ::GetSysColor(COLOR_3DLIGHT));
    ::InflateRect(&r, -1, -1);
    locator_ = -1;
    if (Preview && CanDrawWave()) {
        if (scan_) scan_->Replay(paint.get());
        else if (!redrawPending_) PaintWavePeaks(paint.get(), r, peaks_, ForeColor);
        return;
    }
    wc::PenHandle pen(::CreatePen(PS_SOLID, 1, kZeroLineColor));
    wc::DcSelection selected(paint.get(), pen.get());
    const int mid = r.top + (r.bottom - r.top) / 2;
    ::MoveToEx(paint.get(), client.left + kZeroLineMargin, mid, nullptr);
    ::LineTo(paint.get(), client.right - kZeroLineMargin, mid);
}

void TMMWaveOpenDialog::PaintPicture(HDC dc) {
    HWND picture = Control(kPictureArea);
    if (!picture) return;
    RECT client;
    ::GetClientRect(picture, &client);
    COLORREF background = CLR_INVALID;
    {
        wc::WindowDc dialogDc(Window());
        background = ::GetPixel(dialogDc.get(), 0, 0);
    }
    if (background == CLR_INVALID) background = ::GetSysColor(COLOR_BTNFACE);
    OffscreenPaint paint(dc, client);
    Fill(paint.get(), client, background);
    if (!source_ || source_->Wave().FileName().empty()) return;
    RECT r = client;
    ::InflateRect(&r, -kAreaInset, -kAreaInset);
    const WaveIOHandle* handle = source_->Wave().Handle();
    const DisplayEntry* dib =
        handle && handle->displayList ? handle->displayList->First(kDisplayBitmap) : nullptr;
    // A picture the system cannot draw shows the default one instead.
    if (!dib || !DrawPackedDib(paint.get(), r, dib->Current())) DrawDefaultPicture(paint.get(), r);
}

void TMMWaveOpenDialog::DrawLocator(int64_t oldPosition, int64_t newPosition) {
    HWND area = Control(kWaveArea);
    const int64_t dataSize = source_ ? source_->Wave().DataSize() : 0;
    const TMMWave* wave = source_ ? &source_->Wave() : nullptr;
    if (area && Preview && wave && (wave->FormatTag() == WAVE_FORMAT_PCM || PCMIsWideFormat(wave->PWaveFormat())) &&
        dataSize > 0) {
        RECT r;
        ::GetClientRect(area, &r);
        ::InflateRect(&r, -kAreaInset, -kAreaInset);
        wc::WindowDc dc(area);
        wc::PenHandle pen(::CreatePen(PS_SOLID, 1, wc::ColorToRGB(LocatorColor)));
        wc::DcSelection selected(dc.get(), pen.get());
        const int previousMode = ::SetROP2(dc.get(), R2_XORPEN);
        const auto line = [&](int64_t position) {
            position = std::clamp<int64_t>(position, 0, dataSize);
            const int x = int(r.left + int64_t(r.right - r.left) * position / dataSize);
            ::MoveToEx(dc.get(), x, r.top, nullptr);
            ::LineTo(dc.get(), x, r.bottom - 1);
        };
        if (oldPosition >= 0) line(oldPosition);
        if (newPosition >= 0) line(newPosition);
        ::SetROP2(dc.get(), previousMode);
    }
    locator_ = newPosition;
}

void TMMWaveOpenDialog::PlaybackStarted(wc::TComponent*) {
    locator_ = -1;
    if (timer_) timer_->SetEnabled(true);
    if (HWND play = Control(kPlayButton)) ::SetWindowTextA(play, MMLoadString(MMMsg::Stop).c_str());
}

void TMMWaveOpenDialog::PlaybackStopped(wc::TComponent*) {
    if (timer_) timer_->SetEnabled(false);
    DrawLocator(locator_, -1);
    if (HWND play = Control(kPlayButton)) {
        ::SetWindowTextA(play, MMLoadString(MMMsg::Play).c_str());
        // Whatever greyed the button while the file played, it now follows the panel's rules again.
        ::EnableWindow(play, !scan_ && PlayAllowed());
    }
}

void TMMWaveOpenDialog::LocatorTick(wc::TComponent*) {
    if (Playing()) DrawLocator(locator_, output_->GetPosition());
}

void TMMWaveOpenDialog::DoCommand(HWND hookWindow, HWND frameWindow, int controlId) {
    if (hookWindow == Window() && source_) {
        const TMMWave& wave = source_->Wave();
        const auto checked = [&](int id) { return ::IsDlgButtonChecked(hookWindow, id) == BST_CHECKED; };
        switch (controlId) {
        case kPlayButton:
            if (HasOutputDevice()) {
                if (Playing()) output_->Close();
                else if (!scan_ && !pendingSelection_ && !wave.IsEmpty() && OutputAcceptsFormat()) StartPlayback();
            }
            break;
        case kPreviewCheck:
            Preview = checked(kPreviewCheck);
            // Drawing reads the same wave that playback reads.
            if (Preview) output_->Close();
            else CancelScan();
            UpdatePanel();
            break;
        case kAutoPlayCheck:
            AutoPlay = checked(kAutoPlayCheck);
            if (!AutoPlay) {
                autoStartPending_ = false;
                output_->Close();
            } else if (pendingSelection_) {
                // The panel update of the new selection starts it.
            } else if (scan_) {
                autoStartPending_ = true;  // starts when the scan has ended
            } else if (!Playing() && !wave.IsEmpty() && HasOutputDevice() && OutputAcceptsFormat()) {
                StartPlayback();
            }
            break;
        }
    }
    TMMCustomOpenDialog::DoCommand(hookWindow, frameWindow, controlId);
}

// ---- the two areas' window procedures ----

LRESULT CALLBACK TMMWaveOpenDialog::WaveAreaProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* panel = static_cast<TMMWaveOpenDialog*>(::GetPropA(window, kPanelProperty));
    if (!panel) return ::DefWindowProcA(window, message, wParam, lParam);
    try {
        return panel->WaveAreaMessage(window, message, wParam, lParam);
    } catch (const std::exception& error) {
        wc::HandleException(error);
    } catch (...) {
        wc::HandleException(wc::Exception("Unknown exception in the wave preview"));
    }
    return 0;
}

LRESULT CALLBACK TMMWaveOpenDialog::PictureProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* panel = static_cast<TMMWaveOpenDialog*>(::GetPropA(window, kPanelProperty));
    if (!panel) return ::DefWindowProcA(window, message, wParam, lParam);
    try {
        return panel->PictureMessage(window, message, wParam, lParam);
    } catch (const std::exception& error) {
        wc::HandleException(error);
    } catch (...) {
        wc::HandleException(wc::Exception("Unknown exception in the wave preview"));
    }
    return 0;
}

LRESULT TMMWaveOpenDialog::WaveAreaMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        wc::PaintDc paint(window);
        PaintWaveArea(paint.get());
        return 0;
    }
    if (message == kScanStepMessage) {
        ContinueScan();
        return 0;
    }
    if (message == WM_TIMER && wParam == kUpdateTimerId) {
        redrawPending_ = false;
        ::KillTimer(window, kUpdateTimerId);
        try {
            OpenSelection();
        } catch (...) {
            UpdatePanel();  // the cleared wave, not the previous file
            throw;
        }
        UpdatePanel();
        return 0;
    }
    return ::CallWindowProcA(waveArea_.previous(), window, message, wParam, lParam);
}

LRESULT TMMWaveOpenDialog::PictureMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        wc::PaintDc paint(window);
        PaintPicture(paint.get());
        return 0;
    }
    return ::CallWindowProcA(picture_.previous(), window, message, wParam, lParam);
}
