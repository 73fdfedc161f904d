#include "controls/AdvGDIP.h"

#include <shlwapi.h>

#include <new>

#include "framework/Handles.h"

namespace GP = Gdiplus::DllExports;

ARGB MakeGDIPColor(wc::TColor color, BYTE opacity) {
    const COLORREF rgb = wc::ColorToRGB(color);
    return (ARGB(opacity) << 24) | (ARGB(GetRValue(rgb)) << 16) | (ARGB(GetGValue(rgb)) << 8) | ARGB(GetBValue(rgb));
}

// ---- start-up and shut-down ----

namespace {

// The process's GDI+ run time: started once, shut down at the end.
struct GdiplusRuntime {
    wc::GdiplusTokenHandle token;
    ULONG_PTR hookToken = 0;
    Gdiplus::NotificationUnhookProc unhook = nullptr;
};

GdiplusRuntime& Runtime() {
    static GdiplusRuntime runtime;
    return runtime;
}

// Without GDI+'s background thread, older systems need the notification hook called by the program.
bool NeedsNotificationHook() {
    const DWORD version = ::GetVersion();
    return LOBYTE(LOWORD(version)) <= 5;
}

}  // namespace

bool StartGdiplus() {
    GdiplusRuntime& runtime = Runtime();
    if (runtime.token) return true;
    Gdiplus::GdiplusStartupInput input;
    input.GdiplusVersion = 1;
    input.DebugEventCallback = nullptr;
    input.SuppressBackgroundThread = TRUE;
    input.SuppressExternalCodecs = FALSE;
    Gdiplus::GdiplusStartupOutput output;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, &output) != Gdiplus::Ok) return false;
    runtime.token.reset(token);
    if (NeedsNotificationHook() && output.NotificationHook) {
        if (output.NotificationHook(&runtime.hookToken) == Gdiplus::Ok) runtime.unhook = output.NotificationUnhook;
    }
    return true;
}

void ShutdownGdiplus() {
    GdiplusRuntime& runtime = Runtime();
    if (!runtime.token) return;
    if (runtime.unhook) runtime.unhook(runtime.hookToken);
    runtime.unhook = nullptr;
    runtime.hookToken = 0;
    runtime.token.reset();
}

bool GdiplusStarted() { return Runtime().token.valid(); }

// ---- TGdiplusBase ----

TGdiplusBase::TGdiplusBase() {
    // Drawing objects made before the program started GDI+ start it themselves.
    if (!GdiplusStarted()) StartGdiplus();
}

void* TGdiplusBase::operator new(size_t size) {
    void* block = GP::GdipAlloc(size);
    if (!block && !GdiplusStarted() && StartGdiplus()) block = GP::GdipAlloc(size);
    if (!block) throw std::bad_alloc();
    return block;
}

void TGdiplusBase::operator delete(void* block) noexcept { GP::GdipFree(block); }

// ---- images ----

TGPImage::TGPImage(const std::vector<uint8_t>& bytes) {
    if (bytes.empty() || bytes.size() > 0x7FFFFFFF) {
        Check(Gdiplus::InvalidParameter);
        return;
    }
    IStream* stream = ::SHCreateMemStream(bytes.data(), UINT(bytes.size()));
    if (!stream) {
        Check(Gdiplus::OutOfMemory);
        return;
    }
    Check(GP::GdipLoadImageFromStream(stream, &image_));
    stream->Release();
}

TGPImage::~TGPImage() {
    if (image_) GP::GdipDisposeImage(image_);
}

UINT TGPImage::Width() const {
    UINT width = 0;
    if (image_) Check(GP::GdipGetImageWidth(image_, &width));
    return width;
}

UINT TGPImage::Height() const {
    UINT height = 0;
    if (image_) Check(GP::GdipGetImageHeight(image_, &height));
    return height;
}

bool TGPImage::SaveAsPng(const std::wstring& path) const {
    // The system's PNG encoder.
    static const CLSID kPngEncoder = {0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
    if (!image_) return false;
    return Check(GP::GdipSaveImageToFile(image_, path.c_str(), &kPngEncoder, nullptr)) == Gdiplus::Ok;
}

TGPBitmap::TGPBitmap(int width, int height) {
    Gdiplus::GpBitmap* bitmap = nullptr;
    Check(GP::GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppARGB, nullptr, &bitmap));
    image_ = bitmap;
}

TGPBitmap::TGPBitmap(HBITMAP source) {
    Gdiplus::GpBitmap* bitmap = nullptr;
    Check(GP::GdipCreateBitmapFromHBITMAP(source, nullptr, &bitmap));
    image_ = bitmap;
}

ARGB TGPBitmap::Pixel(int x, int y) const {
    ARGB color = 0;
    if (image_) Check(GP::GdipBitmapGetPixel(NativeBitmap(), x, y, &color));
    return color;
}

// ---- paths and regions ----

TGPGraphicsPath::TGPGraphicsPath(Gdiplus::FillMode mode) { Check(GP::GdipCreatePath(mode, &path_)); }
TGPGraphicsPath::~TGPGraphicsPath() {
    if (path_) GP::GdipDeletePath(path_);
}
void TGPGraphicsPath::Reset() { Check(GP::GdipResetPath(path_)); }
void TGPGraphicsPath::AddLine(float x1, float y1, float x2, float y2) {
    Check(GP::GdipAddPathLine(path_, x1, y1, x2, y2));
}
void TGPGraphicsPath::AddArc(float x, float y, float width, float height, float startAngle, float sweepAngle) {
    Check(GP::GdipAddPathArc(path_, x, y, width, height, startAngle, sweepAngle));
}
void TGPGraphicsPath::AddRectangle(const RectF& rect) {
    Check(GP::GdipAddPathRectangle(path_, rect.X, rect.Y, rect.Width, rect.Height));
}
void TGPGraphicsPath::AddEllipse(const RectF& rect) {
    Check(GP::GdipAddPathEllipse(path_, rect.X, rect.Y, rect.Width, rect.Height));
}
void TGPGraphicsPath::AddPolygon(const std::vector<PointF>& points) {
    Check(GP::GdipAddPathPolygon(path_, points.data(), INT(points.size())));
}
void TGPGraphicsPath::StartFigure() { Check(GP::GdipStartPathFigure(path_)); }
void TGPGraphicsPath::CloseFigure() { Check(GP::GdipClosePathFigure(path_)); }

TGPRegion::TGPRegion(const RectF& rect) { Check(GP::GdipCreateRegionRect(&rect, &region_)); }
TGPRegion::TGPRegion(const TGPGraphicsPath& path) { Check(GP::GdipCreateRegionPath(path.Native(), &region_)); }
TGPRegion::~TGPRegion() {
    if (region_) GP::GdipDeleteRegion(region_);
}

// ---- brushes and pens ----

TGPBrush::~TGPBrush() {
    if (brush_) GP::GdipDeleteBrush(brush_);
}

TGPSolidBrush::TGPSolidBrush(ARGB color) {
    Gdiplus::GpSolidFill* fill = nullptr;
    Check(GP::GdipCreateSolidFill(color, &fill));
    brush_ = fill;
}

TGPHatchBrush::TGPHatchBrush(Gdiplus::HatchStyle style, ARGB foreColor, ARGB backColor) {
    Gdiplus::GpHatch* hatch = nullptr;
    Check(GP::GdipCreateHatchBrush(style, foreColor, backColor, &hatch));
    brush_ = hatch;
}

TGPTextureBrush::TGPTextureBrush(const TGPImage& image, Gdiplus::WrapMode wrap) {
    Gdiplus::GpTexture* texture = nullptr;
    Check(GP::GdipCreateTexture(image.Native(), wrap, &texture));
    brush_ = texture;
}

TGPLinearGradientBrush::TGPLinearGradientBrush(const RectF& rect, ARGB color1, ARGB color2,
                                               Gdiplus::LinearGradientMode mode) {
    Gdiplus::GpLineGradient* line = nullptr;
    Check(GP::GdipCreateLineBrushFromRect(&rect, color1, color2, mode, Gdiplus::WrapModeTile, &line));
    brush_ = line;
}

TGPLinearGradientBrush::TGPLinearGradientBrush(const RectF& rect, ARGB color1, ARGB color2, float angle,
                                               bool scalable) {
    Gdiplus::GpLineGradient* line = nullptr;
    Check(GP::GdipCreateLineBrushFromRectWithAngle(&rect, color1, color2, angle, scalable, Gdiplus::WrapModeTile,
                                                   &line));
    brush_ = line;
}

void TGPLinearGradientBrush::SetInterpolationColors(const TGPBlend& blend) {
    Check(GP::GdipSetLinePresetBlend(Line(), blend.colors.data(), blend.positions.data(), INT(blend.colors.size())));
}

void TGPLinearGradientBrush::SetGammaCorrection(bool on) { Check(GP::GdipSetLineGammaCorrection(Line(), on)); }

TGPPathGradientBrush::TGPPathGradientBrush(const TGPGraphicsPath& path) {
    Gdiplus::GpPathGradient* gradient = nullptr;
    Check(GP::GdipCreatePathGradientFromPath(path.Native(), &gradient));
    brush_ = gradient;
}

void TGPPathGradientBrush::SetWrapMode(Gdiplus::WrapMode wrap) {
    Check(GP::GdipSetPathGradientWrapMode(Gradient(), wrap));
}
void TGPPathGradientBrush::SetCenterPoint(const PointF& point) {
    Check(GP::GdipSetPathGradientCenterPoint(Gradient(), &point));
}
void TGPPathGradientBrush::SetCenterColor(ARGB color) { Check(GP::GdipSetPathGradientCenterColor(Gradient(), color)); }
void TGPPathGradientBrush::SetSurroundColor(ARGB color) {
    INT count = 1;
    Check(GP::GdipSetPathGradientSurroundColorsWithCount(Gradient(), &color, &count));
}
void TGPPathGradientBrush::SetInterpolationColors(const TGPBlend& blend) {
    Check(GP::GdipSetPathGradientPresetBlend(Gradient(), blend.colors.data(), blend.positions.data(),
                                             INT(blend.colors.size())));
}

TGPPen::TGPPen(ARGB color, float width) { Check(GP::GdipCreatePen1(color, width, Gdiplus::UnitWorld, &pen_)); }
TGPPen::~TGPPen() {
    if (pen_) GP::GdipDeletePen(pen_);
}
void TGPPen::SetDashStyle(Gdiplus::DashStyle style) { Check(GP::GdipSetPenDashStyle(pen_, style)); }

// ---- text ----

TGPFontFamily::TGPFontFamily(const std::wstring& name) {
    exact_ = GP::GdipCreateFontFamilyFromName(name.c_str(), nullptr, &family_) == Gdiplus::Ok && family_;
    if (!exact_) {
        family_ = nullptr;
        Check(Gdiplus::FontFamilyNotFound);
        if (GP::GdipGetGenericFontFamilySansSerif(&family_) != Gdiplus::Ok) family_ = nullptr;
    }
    if (!family_) {
        // Not even the generic face (a bare system): any installed family still shows the text.
        Gdiplus::GpFontCollection* installed = nullptr;
        INT count = 0, found = 0;
        Gdiplus::GpFontFamily* first = nullptr;
        if (GP::GdipNewInstalledFontCollection(&installed) == Gdiplus::Ok &&
            GP::GdipGetFontCollectionFamilyCount(installed, &count) == Gdiplus::Ok && count > 0 &&
            GP::GdipGetFontCollectionFamilyList(installed, 1, &first, &found) == Gdiplus::Ok && found == 1)
            GP::GdipCloneFontFamily(first, &family_);
    }
}
TGPFontFamily::~TGPFontFamily() {
    if (family_) GP::GdipDeleteFontFamily(family_);
}

TGPFont::TGPFont(const TGPFontFamily& family, float size, int style, Gdiplus::Unit unit) {
    if (family.Native()) Check(GP::GdipCreateFont(family.Native(), size, style, unit, &font_));
    else Check(Gdiplus::InvalidParameter);
}
TGPFont::~TGPFont() {
    if (font_) GP::GdipDeleteFont(font_);
}

TGPStringFormat::TGPStringFormat() { Check(GP::GdipCreateStringFormat(0, LANG_NEUTRAL, &format_)); }
TGPStringFormat::~TGPStringFormat() {
    if (format_) GP::GdipDeleteStringFormat(format_);
}
void TGPStringFormat::SetAlignment(Gdiplus::StringAlignment alignment) {
    Check(GP::GdipSetStringFormatAlign(format_, alignment));
}
void TGPStringFormat::SetLineAlignment(Gdiplus::StringAlignment alignment) {
    Check(GP::GdipSetStringFormatLineAlign(format_, alignment));
}
void TGPStringFormat::SetHotkeyPrefix(Gdiplus::HotkeyPrefix prefix) {
    Check(GP::GdipSetStringFormatHotkeyPrefix(format_, prefix));
}
void TGPStringFormat::SetFormatFlags(int flags) { Check(GP::GdipSetStringFormatFlags(format_, INT(flags))); }
void TGPStringFormat::SetTrimming(Gdiplus::StringTrimming trimming) {
    Check(GP::GdipSetStringFormatTrimming(format_, trimming));
}

TGPImageAttributes::TGPImageAttributes() { Check(GP::GdipCreateImageAttributes(&attributes_)); }
TGPImageAttributes::~TGPImageAttributes() {
    if (attributes_) GP::GdipDisposeImageAttributes(attributes_);
}
void TGPImageAttributes::SetColorKey(ARGB low, ARGB high) {
    Check(GP::GdipSetImageAttributesColorKeys(attributes_, Gdiplus::ColorAdjustTypeDefault, TRUE, low, high));
}

// ---- drawing surface ----

TGPGraphics::TGPGraphics(HDC dc) { Check(GP::GdipCreateFromHDC(dc, &graphics_)); }
TGPGraphics::TGPGraphics(const TGPImage& image) {
    if (image.Native()) Check(GP::GdipGetImageGraphicsContext(image.Native(), &graphics_));
    else Check(Gdiplus::InvalidParameter);
}
TGPGraphics::~TGPGraphics() {
    if (graphics_) GP::GdipDeleteGraphics(graphics_);
}

void TGPGraphics::Clear(ARGB color) { Check(GP::GdipGraphicsClear(graphics_, color)); }

Gdiplus::SmoothingMode TGPGraphics::GetSmoothingMode() const {
    Gdiplus::SmoothingMode mode = Gdiplus::SmoothingModeDefault;
    Check(GP::GdipGetSmoothingMode(graphics_, &mode));
    return mode;
}
void TGPGraphics::SetSmoothingMode(Gdiplus::SmoothingMode mode) { Check(GP::GdipSetSmoothingMode(graphics_, mode)); }
void TGPGraphics::SetTextRenderingHint(Gdiplus::TextRenderingHint hint) {
    Check(GP::GdipSetTextRenderingHint(graphics_, hint));
}

void TGPGraphics::FillPath(const TGPBrush& brush, const TGPGraphicsPath& path) {
    Check(GP::GdipFillPath(graphics_, brush.Native(), path.Native()));
}
void TGPGraphics::FillRectangle(const TGPBrush& brush, const RectF& rect) {
    Check(GP::GdipFillRectangle(graphics_, brush.Native(), rect.X, rect.Y, rect.Width, rect.Height));
}
void TGPGraphics::FillEllipse(const TGPBrush& brush, const RectF& rect) {
    Check(GP::GdipFillEllipse(graphics_, brush.Native(), rect.X, rect.Y, rect.Width, rect.Height));
}
void TGPGraphics::FillPolygon(const TGPBrush& brush, const std::vector<PointF>& points) {
    Check(GP::GdipFillPolygon(graphics_, brush.Native(), points.data(), INT(points.size()), Gdiplus::FillModeAlternate));
}
void TGPGraphics::DrawPath(const TGPPen& pen, const TGPGraphicsPath& path) {
    Check(GP::GdipDrawPath(graphics_, pen.Native(), path.Native()));
}
void TGPGraphics::DrawRectangle(const TGPPen& pen, const RectF& rect) {
    Check(GP::GdipDrawRectangle(graphics_, pen.Native(), rect.X, rect.Y, rect.Width, rect.Height));
}
void TGPGraphics::DrawLine(const TGPPen& pen, float x1, float y1, float x2, float y2) {
    Check(GP::GdipDrawLine(graphics_, pen.Native(), x1, y1, x2, y2));
}

RectF TGPGraphics::MeasureString(const std::wstring& text, const TGPFont& font, const RectF& layout,
                                 const TGPStringFormat* format) const {
    RectF bounds(0, 0, 0, 0);
    INT chars = 0, lines = 0;
    Check(GP::GdipMeasureString(graphics_, text.c_str(), INT(text.size()), font.Native(), &layout,
                                format ? format->Native() : nullptr, &bounds, &chars, &lines));
    return bounds;
}

void TGPGraphics::DrawString(const std::wstring& text, const TGPFont& font, const RectF& layout,
                             const TGPStringFormat* format, const TGPBrush& brush) {
    Check(GP::GdipDrawString(graphics_, text.c_str(), INT(text.size()), font.Native(), &layout,
                             format ? format->Native() : nullptr, brush.Native()));
}

void TGPGraphics::DrawImage(const TGPImage& image, int x, int y) {
    Check(GP::GdipDrawImageI(graphics_, image.Native(), x, y));
}
void TGPGraphics::DrawImage(const TGPImage& image, const RectF& rect) {
    Check(GP::GdipDrawImageRect(graphics_, image.Native(), rect.X, rect.Y, rect.Width, rect.Height));
}
void TGPGraphics::DrawImage(const TGPImage& image, const RectF& rect, const RectF& source,
                            const TGPImageAttributes* attributes) {
    Check(GP::GdipDrawImageRectRect(graphics_, image.Native(), rect.X, rect.Y, rect.Width, rect.Height, source.X,
                                    source.Y, source.Width, source.Height, Gdiplus::UnitPixel,
                                    attributes ? attributes->Native() : nullptr, nullptr, nullptr));
}

void TGPGraphics::SetClip(const TGPRegion& region, Gdiplus::CombineMode mode) {
    Check(GP::GdipSetClipRegion(graphics_, region.Native(), mode));
}
void TGPGraphics::SetClip(const RectF& rect, Gdiplus::CombineMode mode) {
    Check(GP::GdipSetClipRect(graphics_, rect.X, rect.Y, rect.Width, rect.Height, mode));
}
void TGPGraphics::ResetClip() { Check(GP::GdipResetClip(graphics_)); }

// ---- TAdvGDIPPicture ----

TAdvGDIPPicture& TAdvGDIPPicture::operator=(const TAdvGDIPPicture& other) {
    if (this != &other) {
        data_ = other.data_;
        image_.reset();
        Changed();
    }
    return *this;
}

void TAdvGDIPPicture::Changed() {
    if (OnChange) OnChange();
}

void TAdvGDIPPicture::Clear() {
    if (data_.empty()) return;
    data_.clear();
    image_.reset();
    Changed();
}

void TAdvGDIPPicture::LoadFromBytes(std::vector<uint8_t> bytes) {
    data_ = std::move(bytes);
    image_.reset();
    Changed();
}

bool TAdvGDIPPicture::LoadFromFile(const std::string& path) {
    wc::FileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    LARGE_INTEGER size{};
    // Pictures are small; anything beyond this is not a picture for a button.
    constexpr LONGLONG kMaxPictureBytes = 64ll << 20;
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 || size.QuadPart > kMaxPictureBytes) return false;
    std::vector<uint8_t> bytes(size_t(size.QuadPart));
    DWORD read = 0;
    if (!::ReadFile(file.get(), bytes.data(), DWORD(bytes.size()), &read, nullptr) || read != bytes.size()) return false;
    LoadFromBytes(std::move(bytes));
    return true;
}

const TGPImage* TAdvGDIPPicture::Image() const {
    if (data_.empty()) return nullptr;
    if (!image_) image_ = std::make_unique<TGPImage>(data_);
    return image_->Valid() ? image_.get() : nullptr;
}

int TAdvGDIPPicture::Width() const {
    const TGPImage* image = Image();
    return image ? int(image->Width()) : 0;
}

int TAdvGDIPPicture::Height() const {
    const TGPImage* image = Image();
    return image ? int(image->Height()) : 0;
}

void TAdvGDIPPicture::Draw(TGPGraphics& graphics, const RectF& rect) const {
    if (const TGPImage* image = Image()) graphics.DrawImage(*image, rect);
}
