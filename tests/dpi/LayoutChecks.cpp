#include "LayoutChecks.h"

#include <algorithm>
#include <cstdlib>

#include "support/WavePanel.h"
#include "controls/AdvSmoothButton.h"
#include "framework/Handles.h"
#include "framework/Strings.h"
#include "support/TestSupport.h"

namespace dpi_tests {

namespace {

// A caption pixel: opaque and dark in every channel. The body's darkest
// shade (its base grey shifted down by 40) stays above this.
constexpr int kInkLevel = 80;
constexpr int kOpaque = 128;

}  // namespace

int ExpectedPixelsPerInch() {
    char text[16] = "";
    if (!::GetEnvironmentVariableA("WC_EXPECTED_DPI", text, sizeof text)) return 0;
    return std::atoi(text);
}

SIZE TextExtent(HWND window) {
    const std::wstring text = testing_support::WindowText(window);
    wc::WindowDc dc(window);
    HFONT font = reinterpret_cast<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0));
    HGDIOBJ previous = font ? ::SelectObject(dc.get(), font) : nullptr;
    SIZE size{0, 0};
    ::GetTextExtentPoint32W(dc.get(), text.c_str(), int(text.size()), &size);
    if (previous) ::SelectObject(dc.get(), previous);
    return size;
}

int FontCellHeight(HWND window) {
    wc::WindowDc dc(window);
    HFONT font = reinterpret_cast<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0));
    HGDIOBJ previous = font ? ::SelectObject(dc.get(), font) : nullptr;
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc.get(), &metrics);
    if (previous) ::SelectObject(dc.get(), previous);
    return int(metrics.tmHeight);
}

SIZE ClientSize(HWND window) {
    RECT client{};
    ::GetClientRect(window, &client);
    return {client.right - client.left, client.bottom - client.top};
}

bool Intersect(const RECT& a, const RECT& b) {
    RECT common;
    return ::IntersectRect(&common, &a, &b) != 0;
}

CaptionInk FindCaptionInk(TAdvSmoothButton& button) {
    const TGPBitmap& bitmap = button.RenderedBitmap();
    const int width = int(bitmap.Width()), height = int(bitmap.Height());
    CaptionInk ink;
    ink.box = {width, height, -1, -1};
    // A band of one or two rows is the accelerator's underline below the text,
    // not a line of its own.
    constexpr int kUnderlineRows = 2;
    int bandRows = 0;
    for (int y = 0; y < height; ++y) {
        bool rowInked = false;
        for (int x = 0; x < width; ++x) {
            const ARGB pixel = bitmap.Pixel(x, y);
            const int a = int(pixel >> 24), r = int((pixel >> 16) & 0xFF), g = int((pixel >> 8) & 0xFF),
                      b = int(pixel & 0xFF);
            if (a < kOpaque || r >= kInkLevel || g >= kInkLevel || b >= kInkLevel) continue;
            rowInked = true;
            ink.box.left = std::min<LONG>(ink.box.left, x);
            ink.box.right = std::max<LONG>(ink.box.right, x + 1);
            ink.box.top = std::min<LONG>(ink.box.top, y);
            ink.box.bottom = std::max<LONG>(ink.box.bottom, y + 1);
        }
        if (rowInked) {
            ++bandRows;
        } else {
            if (bandRows > kUnderlineRows) ++ink.bands;
            bandRows = 0;
        }
    }
    if (bandRows > kUnderlineRows) ++ink.bands;
    ink.found = ink.bands > 0;
    return ink;
}

int GdiCaptionWidth(TAdvSmoothButton& button) {
    const wc::TFont& look = button.Appearance().Font();
    const UINT codePage = look.Charset() == SHIFTJIS_CHARSET ? wc::kShiftJisCodePage : CP_ACP;
    LOGFONTW logFont{};
    logFont.lfHeight = look.Height();
    logFont.lfCharSet = BYTE(look.Charset());
    const std::wstring face = wc::ToWide(look.Name(), codePage);
    face.copy(logFont.lfFaceName, LF_FACESIZE - 1);
    wc::FontHandle font(::CreateFontIndirectW(&logFont));
    wc::WindowDc dc(nullptr);
    HGDIOBJ previous = ::SelectObject(dc.get(), font.get());
    const std::wstring caption = wc::ToWide(button.Caption(), codePage);
    RECT extent{0, 0, 0, 0};
    ::DrawTextW(dc.get(), caption.c_str(), int(caption.size()), &extent, DT_CALCRECT | DT_SINGLELINE);
    ::SelectObject(dc.get(), previous);
    return extent.right - extent.left;
}

bool SaveScreenshot(HWND window, const std::string& name) {
    const std::string folder = testing_support::ProgramDir() + "\\..\\test-output";
    ::CreateDirectoryA(folder.c_str(), nullptr);
    const int dpi = ExpectedPixelsPerInch();
    return testing_support::SavePng(testing_support::CaptureWindow(window),
                                     folder + "\\" + name + "-" + std::to_string(dpi) + "dpi.png");
}

}  // namespace dpi_tests
