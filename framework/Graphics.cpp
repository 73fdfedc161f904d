#include "framework/Graphics.h"

#include <utility>

#include "framework/Exceptions.h"
#include "framework/Layout.h"
#include "framework/Strings.h"

namespace wc {

COLORREF ColorToRGB(TColor color) {
    if ((color & kSystemColorFlag) == kSystemColorFlag) return ::GetSysColor(color & 0xFF);
    return COLORREF(color) & 0xFFFFFF;
}

bool IdentToColor(const std::string& name, TColor& color) {
    static const std::pair<const char*, TColor> kColors[] = {
        {"clNone", clNone},         {"clDefault", clDefault},     {"clBlack", clBlack},
        {"clMaroon", clMaroon},     {"clGreen", clGreen},         {"clOlive", clOlive},
        {"clNavy", clNavy},         {"clPurple", clPurple},       {"clTeal", clTeal},
        {"clGray", clGray},         {"clSilver", clSilver},       {"clRed", clRed},
        {"clLime", clLime},         {"clYellow", clYellow},       {"clBlue", clBlue},
        {"clFuchsia", clFuchsia},   {"clAqua", clAqua},           {"clWhite", clWhite},
        {"clBtnFace", clBtnFace},   {"clWindow", clWindow},       {"clWindowText", clWindowText},
        {"clBtnText", clBtnText},   {"clBtnShadow", clBtnShadow}, {"clBtnHighlight", clBtnHighlight},
        {"clGrayText", clGrayText}, {"clHighlight", clHighlight}, {"clHighlightText", clHighlightText},
    };
    for (const auto& [ident, value] : kColors)
        if (name == ident) {
            color = value;
            return true;
        }
    return false;
}

TColor LayoutColor(const LayoutValue& value) {
    if (value.kind == LayoutValue::Kind::Integer) return TColor(value.integer);
    TColor color;
    if (!IdentToColor(value.AsIdentifier(), color)) throw Exception("Invalid color " + value.text);
    return color;
}

TFont::TFont() = default;

TFont::TFont(const TFont& other)
    : name_(other.name_), height_(other.height_), charset_(other.charset_), color_(other.color_),
      style_(other.style_) {}

TFont& TFont::operator=(const TFont& other) {
    if (this != &other) {
        name_ = other.name_;
        height_ = other.height_;
        charset_ = other.charset_;
        color_ = other.color_;
        style_ = other.style_;
        Changed();
    }
    return *this;
}

void TFont::Changed() {
    handle_.reset();
    if (OnChange) OnChange();
}

void TFont::SetName(std::string name) {
    if (name_ != name) {
        name_ = std::move(name);
        Changed();
    }
}
void TFont::SetHeight(int height) {
    if (height_ != height) {
        height_ = height;
        Changed();
    }
}
void TFont::SetCharset(BYTE charset) {
    if (charset_ != charset) {
        charset_ = charset;
        Changed();
    }
}
void TFont::SetColor(TColor color) {
    if (color_ != color) {
        color_ = color;
        Changed();
    }
}
void TFont::SetStyle(unsigned style) {
    if (style_ != style) {
        style_ = style;
        Changed();
    }
}

std::wstring TFont::WideName() const {
    return ToWide(name_, charset_ == SHIFTJIS_CHARSET ? kShiftJisCodePage : CP_ACP);
}

HFONT TFont::Handle() const {
    if (!handle_) {
        LOGFONTW font{};
        font.lfHeight = height_;
        font.lfWeight = (style_ & fsBold) ? FW_BOLD : FW_NORMAL;
        font.lfItalic = (style_ & fsItalic) != 0;
        font.lfUnderline = (style_ & fsUnderline) != 0;
        font.lfStrikeOut = (style_ & fsStrikeOut) != 0;
        font.lfCharSet = charset_;
        font.lfQuality = DEFAULT_QUALITY;
        const std::wstring face = WideName();
        face.copy(font.lfFaceName, LF_FACESIZE - 1);
        handle_.reset(::CreateFontIndirectW(&font));
    }
    return handle_.get();
}

bool TFont::SetProperty(const std::string& name, const LayoutValue& value) {
    if (name == "Name") {
        SetName(value.AsString());
    } else if (name == "Height") {
        SetHeight(value.AsInteger());
    } else if (name == "Color") {
        SetColor(LayoutColor(value));
    } else if (name == "Charset") {
        static const std::pair<const char*, BYTE> kCharsets[] = {
            {"ANSI_CHARSET", ANSI_CHARSET},         {"DEFAULT_CHARSET", DEFAULT_CHARSET},
            {"SHIFTJIS_CHARSET", SHIFTJIS_CHARSET}, {"SYMBOL_CHARSET", SYMBOL_CHARSET},
            {"OEM_CHARSET", OEM_CHARSET},
        };
        if (value.kind == LayoutValue::Kind::Integer) {
            SetCharset(BYTE(value.AsInteger()));
            return true;
        }
        for (const auto& [ident, charset] : kCharsets)
            if (value.AsIdentifier() == ident) {
                SetCharset(charset);
                return true;
            }
        throw Exception("Invalid character set " + value.text);
    } else if (name == "Style") {
        unsigned style = 0;
        for (const auto& member : value.AsSet()) {
            if (member == "fsBold") style |= fsBold;
            else if (member == "fsItalic") style |= fsItalic;
            else if (member == "fsUnderline") style |= fsUnderline;
            else if (member == "fsStrikeOut") style |= fsStrikeOut;
            else throw Exception("Invalid font style " + member);
        }
        SetStyle(style);
    } else {
        return false;
    }
    return true;
}

}  // namespace wc
