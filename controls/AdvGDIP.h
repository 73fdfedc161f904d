// A thin object layer over the GDI+ flat interface (gdiplus.dll).
//
// Each class owns exactly one GDI+ object: it is created in the constructor
// and deleted in the destructor. Calls never raise; a failing call leaves
// its status in the object (LastStatus) and drawing simply goes on, so a
// missing font or a bad picture costs a detail of the look, never the paint.
//
// GDI+ is started once for the process (TGdiplusSession in the program
// entry, or on first use of the layer) and shut down when the session ends.
#pragma once

#include <windows.h>
#include <objidl.h>
// The flat interface and its types; the C++ wrappers of that header are not used.
#include <gdiplus.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/Graphics.h"

using Gdiplus::ARGB;
using Gdiplus::PointF;
using Gdiplus::RectF;

// An ARGB value from an opacity and a system colour (system colour indexes looked up now).
ARGB MakeGDIPColor(wc::TColor color, BYTE opacity);

// ---- start-up and shut-down ----

// Starts GDI+ for the process unless it runs already; true when it runs.
bool StartGdiplus();
// Shuts GDI+ down when StartGdiplus started it (not inside a library).
void ShutdownGdiplus();
bool GdiplusStarted();

// GDI+ for the life of this object: one at program start, one per test program.
class TGdiplusSession {
public:
    TGdiplusSession() { StartGdiplus(); }
    ~TGdiplusSession() { ShutdownGdiplus(); }
    TGdiplusSession(const TGdiplusSession&) = delete;
    TGdiplusSession& operator=(const TGdiplusSession&) = delete;
};

// ---- objects ----

class TGdiplusBase {
public:
    // Heap instances live in GDI+'s own memory.
    static void* operator new(size_t size);
    static void operator delete(void* block) noexcept;

    Gdiplus::Status LastStatus() const noexcept { return lastStatus_; }

protected:
    TGdiplusBase();
    TGdiplusBase(const TGdiplusBase&) = delete;
    TGdiplusBase& operator=(const TGdiplusBase&) = delete;
    ~TGdiplusBase() = default;
    Gdiplus::Status Check(Gdiplus::Status status) const noexcept {
        if (status != Gdiplus::Ok) lastStatus_ = status;
        return status;
    }

private:
    mutable Gdiplus::Status lastStatus_ = Gdiplus::Ok;
};

class TGPImage : public TGdiplusBase {
public:
    // Decodes a picture (BMP, PNG, JPEG, GIF, ICO...) from its file bytes.
    explicit TGPImage(const std::vector<uint8_t>& bytes);
    ~TGPImage();

    Gdiplus::GpImage* Native() const noexcept { return image_; }
    bool Valid() const noexcept { return image_ != nullptr; }
    UINT Width() const;
    UINT Height() const;
    // Writes the image as a PNG file.
    bool SaveAsPng(const std::wstring& path) const;

protected:
    TGPImage() = default;
    Gdiplus::GpImage* image_ = nullptr;
};

class TGPBitmap : public TGPImage {
public:
    // width x height, 32 bits per pixel with alpha, fully transparent.
    TGPBitmap(int width, int height);
    // A copy of a GDI bitmap.
    explicit TGPBitmap(HBITMAP bitmap);
    Gdiplus::GpBitmap* NativeBitmap() const noexcept { return reinterpret_cast<Gdiplus::GpBitmap*>(image_); }
    ARGB Pixel(int x, int y) const;
};

class TGPGraphicsPath : public TGdiplusBase {
public:
    explicit TGPGraphicsPath(Gdiplus::FillMode mode = Gdiplus::FillModeAlternate);
    ~TGPGraphicsPath();
    Gdiplus::GpPath* Native() const noexcept { return path_; }

    void Reset();
    void AddLine(float x1, float y1, float x2, float y2);
    void AddArc(float x, float y, float width, float height, float startAngle, float sweepAngle);
    void AddRectangle(const RectF& rect);
    void AddEllipse(const RectF& rect);
    void AddPolygon(const std::vector<PointF>& points);
    void StartFigure();
    void CloseFigure();

private:
    Gdiplus::GpPath* path_ = nullptr;
};

class TGPRegion : public TGdiplusBase {
public:
    explicit TGPRegion(const RectF& rect);
    explicit TGPRegion(const TGPGraphicsPath& path);
    ~TGPRegion();
    Gdiplus::GpRegion* Native() const noexcept { return region_; }

private:
    Gdiplus::GpRegion* region_ = nullptr;
};

class TGPBrush : public TGdiplusBase {
public:
    ~TGPBrush();
    Gdiplus::GpBrush* Native() const noexcept { return brush_; }

protected:
    TGPBrush() = default;
    Gdiplus::GpBrush* brush_ = nullptr;
};

class TGPSolidBrush : public TGPBrush {
public:
    explicit TGPSolidBrush(ARGB color);
};

class TGPHatchBrush : public TGPBrush {
public:
    TGPHatchBrush(Gdiplus::HatchStyle style, ARGB foreColor, ARGB backColor);
};

class TGPTextureBrush : public TGPBrush {
public:
    explicit TGPTextureBrush(const TGPImage& image, Gdiplus::WrapMode wrap = Gdiplus::WrapModeTile);
};

// One colour at each position from 0 to 1.
struct TGPBlend {
    std::vector<ARGB> colors;
    std::vector<float> positions;
};

class TGPLinearGradientBrush : public TGPBrush {
public:
    TGPLinearGradientBrush(const RectF& rect, ARGB color1, ARGB color2, Gdiplus::LinearGradientMode mode);
    // At angle degrees; the angle scales with the rectangle's shape.
    TGPLinearGradientBrush(const RectF& rect, ARGB color1, ARGB color2, float angle, bool scalable = true);
    void SetInterpolationColors(const TGPBlend& blend);
    void SetGammaCorrection(bool on);

private:
    Gdiplus::GpLineGradient* Line() const noexcept { return reinterpret_cast<Gdiplus::GpLineGradient*>(brush_); }
};

class TGPPathGradientBrush : public TGPBrush {
public:
    explicit TGPPathGradientBrush(const TGPGraphicsPath& path);
    void SetWrapMode(Gdiplus::WrapMode wrap);
    void SetCenterPoint(const PointF& point);
    void SetCenterColor(ARGB color);
    void SetSurroundColor(ARGB color);
    // Position 0 is the outline, 1 the centre.
    void SetInterpolationColors(const TGPBlend& blend);

private:
    Gdiplus::GpPathGradient* Gradient() const noexcept { return reinterpret_cast<Gdiplus::GpPathGradient*>(brush_); }
};

class TGPPen : public TGdiplusBase {
public:
    TGPPen(ARGB color, float width);
    ~TGPPen();
    Gdiplus::GpPen* Native() const noexcept { return pen_; }
    void SetDashStyle(Gdiplus::DashStyle style);

private:
    Gdiplus::GpPen* pen_ = nullptr;
};

class TGPFontFamily : public TGdiplusBase {
public:
    // The named family; a face the system does not have falls back to the generic sans serif.
    explicit TGPFontFamily(const std::wstring& name);
    ~TGPFontFamily();
    Gdiplus::GpFontFamily* Native() const noexcept { return family_; }
    bool Exact() const noexcept { return exact_; }

private:
    Gdiplus::GpFontFamily* family_ = nullptr;
    bool exact_ = false;
};

class TGPFont : public TGdiplusBase {
public:
    // style: bold 1, italic 2, underline 4 added together; unit 3 is points.
    TGPFont(const TGPFontFamily& family, float size, int style, Gdiplus::Unit unit = Gdiplus::UnitPoint);
    ~TGPFont();
    Gdiplus::GpFont* Native() const noexcept { return font_; }

private:
    Gdiplus::GpFont* font_ = nullptr;
};

class TGPStringFormat : public TGdiplusBase {
public:
    TGPStringFormat();
    ~TGPStringFormat();
    Gdiplus::GpStringFormat* Native() const noexcept { return format_; }
    void SetAlignment(Gdiplus::StringAlignment alignment);
    void SetLineAlignment(Gdiplus::StringAlignment alignment);
    void SetHotkeyPrefix(Gdiplus::HotkeyPrefix prefix);
    // StringFormatFlags added together (StringFormatFlagsNoWrap, say).
    void SetFormatFlags(int flags);
    void SetTrimming(Gdiplus::StringTrimming trimming);

private:
    Gdiplus::GpStringFormat* format_ = nullptr;
};

class TGPImageAttributes : public TGdiplusBase {
public:
    TGPImageAttributes();
    ~TGPImageAttributes();
    Gdiplus::GpImageAttributes* Native() const noexcept { return attributes_; }
    void SetColorKey(ARGB low, ARGB high);

private:
    Gdiplus::GpImageAttributes* attributes_ = nullptr;
};

class TGPGraphics : public TGdiplusBase {
public:
    explicit TGPGraphics(HDC dc);
    explicit TGPGraphics(const TGPImage& image);
    ~TGPGraphics();
    Gdiplus::GpGraphics* Native() const noexcept { return graphics_; }
    bool Valid() const noexcept { return graphics_ != nullptr; }

    void Clear(ARGB color);
    Gdiplus::SmoothingMode GetSmoothingMode() const;
    void SetSmoothingMode(Gdiplus::SmoothingMode mode);
    void SetTextRenderingHint(Gdiplus::TextRenderingHint hint);

    void FillPath(const TGPBrush& brush, const TGPGraphicsPath& path);
    void FillRectangle(const TGPBrush& brush, const RectF& rect);
    void FillEllipse(const TGPBrush& brush, const RectF& rect);
    void FillPolygon(const TGPBrush& brush, const std::vector<PointF>& points);
    void DrawPath(const TGPPen& pen, const TGPGraphicsPath& path);
    void DrawRectangle(const TGPPen& pen, const RectF& rect);
    void DrawLine(const TGPPen& pen, float x1, float y1, float x2, float y2);

    // The box the text needs inside `layout`.
    RectF MeasureString(const std::wstring& text, const TGPFont& font, const RectF& layout,
                        const TGPStringFormat* format = nullptr) const;
    void DrawString(const std::wstring& text, const TGPFont& font, const RectF& layout, const TGPStringFormat* format,
                    const TGPBrush& brush);

    void DrawImage(const TGPImage& image, int x, int y);
    void DrawImage(const TGPImage& image, const RectF& rect);
    void DrawImage(const TGPImage& image, const RectF& rect, const RectF& source, const TGPImageAttributes* attributes);

    void SetClip(const TGPRegion& region, Gdiplus::CombineMode mode = Gdiplus::CombineModeReplace);
    void SetClip(const RectF& rect, Gdiplus::CombineMode mode = Gdiplus::CombineModeReplace);
    void ResetClip();

private:
    Gdiplus::GpGraphics* graphics_ = nullptr;
};

// A picture kept as its file bytes and decoded on first use.
class TAdvGDIPPicture {
public:
    TAdvGDIPPicture() = default;
    TAdvGDIPPicture(const TAdvGDIPPicture& other) : data_(other.data_) {}
    TAdvGDIPPicture& operator=(const TAdvGDIPPicture& other);

    bool Empty() const noexcept { return data_.empty(); }
    void Clear();
    void LoadFromBytes(std::vector<uint8_t> bytes);
    bool LoadFromFile(const std::string& path);
    const std::vector<uint8_t>& Data() const noexcept { return data_; }

    // The decoded image, or null when empty or undecodable.
    const TGPImage* Image() const;
    int Width() const;
    int Height() const;
    void Draw(TGPGraphics& graphics, const RectF& rect) const;

    std::function<void()> OnChange;

private:
    void Changed();
    std::vector<uint8_t> data_;
    mutable std::unique_ptr<TGPImage> image_;
};
