// Reading the wave chooser's panel back while support/DialogDriver.h drives
// the dialog: its controls, and the pixels of its areas.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

// The panel: the window holding the format label and "Play" (for
// old-style dialogs the frame itself); its controls by id.
HWND Panel(HWND frame);
HWND PanelControl(HWND frame, int id);

// The client area of a window as 0x00RRGGBB pixels, row by row, read from
// its device context.
struct Pixels {
    int width = 0, height = 0;
    std::vector<uint32_t> rgb;
    uint32_t At(int x, int y) const { return rgb[size_t(y) * size_t(width) + size_t(x)]; }
    // Rows of column x that have this colour.
    std::vector<int> RowsOf(int x, uint32_t color) const;
    bool Contains(uint32_t color) const;
};
Pixels CaptureClient(HWND window);
// The window with its frame, from the screen.
Pixels CaptureWindow(HWND window);
// Writes the pixels as an uncompressed PNG file.
bool SavePng(const Pixels& pixels, const std::string& path);

constexpr uint32_t Rgb(uint8_t r, uint8_t g, uint8_t b) { return (uint32_t(r) << 16) | (uint32_t(g) << 8) | b; }

}  // namespace testing_support
