// The wave chooser driven for real (support/DialogDriver.h): a folder of
// wave files of every kind the panel tells apart, and the panel's controls.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "support/WavePanel.h"
#include "dialogs/MMCstDlg.h"
#include "support/TestSupport.h"

namespace wavedialog_tests {

using testing_support::PanelControl;
using testing_support::Rgb;

constexpr int kPlay = 1000, kPreview = 1001, kAutoPlay = 1002, kLabel = 1003, kWaveArea = 1004, kPicture = 1005;
constexpr uint32_t kGreen = Rgb(0, 255, 0);

// The file's size in whole KiB, as the format label ends: "<n> KB".
std::string FileSizeKB(const std::string& path);
// Where the test's sound device writes what it plays (see tests.cmake), as a Windows path.
std::string PlayedFile();
int64_t FileBytes(const std::string& path);

class WaveDialogRun : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string Path(const char* name) const { return dir_ / name; }

    // The 16-bit stereo samples of a_pcm44.wav widened: as 24-bit integers
    // with noise below their top 16 bits (m_wide24.wav), and as 32-bit floats
    // of value / 32768 (n_float.wav).
    void WriteWideCopies(const std::vector<uint8_t>& samples16);

    // Selects the file and waits until the panel has described it (the label changed).
    static std::string Select(HWND frame, const std::string& prefix);
    static bool Enabled(HWND frame, int id) { return ::IsWindowEnabled(PanelControl(frame, id)) != FALSE; }

    testing_support::TempDir dir_{"wavedlg"};
    TMMWaveOpenDialog dialog_{nullptr};
    std::mutex errorsMutex_;
    std::vector<std::string> errors_;
};

}  // namespace wavedialog_tests
