// Driving the real wave chooser of this process: Execute runs on the test's
// thread while a second thread selects files and reads the panel back.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dialogs/MMCstDlg.h"

namespace wavedialog_tests {

// Runs dialog.Execute() here while `drive` gets the dialog frame on another
// thread. A dialog still open when `drive` returns is cancelled.
bool RunDriven(TMMCustomOpenDialog& dialog, const std::function<void(HWND frame)>& drive);

// A message box of this process other than the frame, or null.
HWND FindMessageBox(HWND frame);

bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

std::vector<std::string> ListViewItems(HWND frame);
// Selects (only) the list item whose text starts with `prefix`.
bool SelectListViewItem(HWND frame, const std::string& prefix);
void TypeFileName(HWND frame, const std::string& text);
void PressButton(HWND window, int id);  // posts the button's click to its parent

// The panel's controls, found below the frame by id.
HWND PanelControl(HWND frame, int id);
std::string TextOf(HWND window);
bool IsChecked(HWND checkBox);

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

}  // namespace wavedialog_tests
