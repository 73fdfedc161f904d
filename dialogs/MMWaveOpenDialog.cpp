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
// The waveform scan itself (WavePeakScan.cpp) reads and scans the blocks
// on helper threads and draws on this one, step by step.
//
// Threads. Everything here runs on the dialog's thread, except the scan's
// `columnRead` callback, which a scan worker calls after each batch of
// columns: it posts kScanStepMessage to the waveform area, whose procedure
// runs the next step, and `stepPosted_` (atomic: set by the worker, cleared
// by the dialog) keeps only one on its way. The workers' own fields and
// lock are described in WavePeakScan.cpp.
//
// The wave. From a scan's start to its end or cancel (a new selection,
// closing the dialog, unticking Preview) the wave is the scan's: Play and
// Auto Play wait for the end, and whatever else opens or moves the wave
// cancels the scan first.
#include "dialogs/MMCstDlg.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dialogs/WavePeakScan.h"
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
// The panel's areas are drawn inside their two bevels, as the waveform is.
constexpr int kAreaInset = kWaveAreaInset;
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

}  // namespace

// ---- free helpers ----

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
        source_->Wave(), area, WaveDrawColors{Color, ForeColor, LocatorColor}, peaks_, WavePeakScan::Readers::Helpers,
        [this, window] {
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
