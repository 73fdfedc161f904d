// Checks of a window's layout as a person would look at it: every text has
// room in its control, no two controls cover each other, and a picture of
// the window is kept beside the test output.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/TestSupport.h"

class TAdvSmoothButton;

namespace dpi_tests {

// The density this run was started for (WC_EXPECTED_DPI), or 0 when not told.
int ExpectedPixelsPerInch();

// The width and height of the window's text in the font the window draws with.
SIZE TextExtent(HWND window);
SIZE ClientSize(HWND window);
// The cell height (ascent and descent) of the font the window draws with.
int FontCellHeight(HWND window);
bool Intersect(const RECT& a, const RECT& b);
using testing_support::BoundsInParent;

// The caption of a smooth button as its cache bitmap shows it: the box of
// the dark (caption-coloured) pixels, and how many separate bands of rows
// hold them (one per text line; an accelerator's underline is no line).
struct CaptionInk {
    bool found = false;
    RECT box{};
    int bands = 0;
};
CaptionInk FindCaptionInk(TAdvSmoothButton& button);
// The caption's width by GDI in a font of the button's face and height.
int GdiCaptionWidth(TAdvSmoothButton& button);

// Saves the window with its frame as build/test-output/<name>-<dpi>dpi.png;
// true when written.
bool SaveScreenshot(HWND window, const std::string& name);

}  // namespace dpi_tests
