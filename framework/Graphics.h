// Colours and fonts.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "framework/Handles.h"

namespace wc {

// An RGB value (red in the low byte) or, with the top byte 0xFF, a system
// colour index in the low byte.
using TColor = int32_t;

constexpr TColor kSystemColorFlag = TColor(0xFF000000);
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;
constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clBtnFace = kSystemColorFlag | COLOR_BTNFACE;
constexpr TColor clWindow = kSystemColorFlag | COLOR_WINDOW;
constexpr TColor clWindowText = kSystemColorFlag | COLOR_WINDOWTEXT;
constexpr TColor clBtnText = kSystemColorFlag | COLOR_BTNTEXT;
constexpr TColor clBtnShadow = kSystemColorFlag | COLOR_BTNSHADOW;
constexpr TColor clBtnHighlight = kSystemColorFlag | COLOR_BTNHIGHLIGHT;
constexpr TColor clGrayText = kSystemColorFlag | COLOR_GRAYTEXT;
constexpr TColor clHighlight = kSystemColorFlag | COLOR_HIGHLIGHT;
constexpr TColor clHighlightText = kSystemColorFlag | COLOR_HIGHLIGHTTEXT;

// The RGB value of a colour (system colours looked up now).
COLORREF ColorToRGB(TColor color);
// "clLime" -> clLime; false for an unknown name.
bool IdentToColor(const std::string& name, TColor& color);

// A colour stored in a layout: an identifier ("clRed") or a number.
TColor LayoutColor(const struct LayoutValue& value);

enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

// A font description with its GDI font made on demand. The name is 8-bit
// text in the code page of the character set (Shift-JIS for SHIFTJIS_CHARSET).
class TFont {
public:
    TFont();
    TFont(const TFont& other);
    TFont& operator=(const TFont& other);  // copies the description, keeps OnChange

    const std::string& Name() const noexcept { return name_; }
    int Height() const noexcept { return height_; }  // negative: character height in pixels
    BYTE Charset() const noexcept { return charset_; }
    TColor Color() const noexcept { return color_; }
    unsigned Style() const noexcept { return style_; }

    void SetName(std::string name);
    void SetHeight(int height);
    void SetCharset(BYTE charset);
    void SetColor(TColor color);
    void SetStyle(unsigned style);

    // The GDI font; made on first use after a change.
    HFONT Handle() const;
    std::wstring WideName() const;

    // Reads "Name", "Height", "Charset", "Color", "Style" (without the "Font." prefix).
    bool SetProperty(const std::string& name, const struct LayoutValue& value);

    std::function<void()> OnChange;

private:
    void Changed();

    std::string name_ = "Tahoma";
    int height_ = -11;
    BYTE charset_ = DEFAULT_CHARSET;
    TColor color_ = clWindowText;
    unsigned style_ = 0;
    mutable FontHandle handle_;
};

}  // namespace wc
