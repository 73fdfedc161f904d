// The wave chooser driven for real: Execute runs the system dialog on the
// test's thread while a second thread selects files and reads the panel.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "WaveDialogDriver.h"
#include "WaveFixtures.h"
#include "dialogs/MMCstDlg.h"
#include "framework/Dialogs.h"
#include "framework/Forms.h"
#include "framework/Strings.h"
#include "media/MMWavOut.h"
#include "media/MMWaveIO.h"
#include "support/TestSupport.h"

using namespace wavedialog_tests;
using testing_support::MakePcmWave;
using testing_support::MakeTestSamples16;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

namespace {

constexpr int kPlay = 1000, kPreview = 1001, kAutoPlay = 1002, kLabel = 1003, kWaveArea = 1004, kPicture = 1005;
constexpr uint32_t kGreen = Rgb(0, 255, 0);

std::string FileSizeKB(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return std::to_string(data.nFileSizeLow / 1024) + " KB";
}

// Where the test's sound device writes what it plays (see tests.cmake), as a Windows path.
std::string PlayedFile() {
    char unixPath[MAX_PATH] = "";
    if (!::GetEnvironmentVariableA("WC_PLAYED_FILE", unixPath, MAX_PATH)) return {};
    std::string path = std::string("Z:") + unixPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

int64_t FileBytes(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (int64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

class WaveDialogRun : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFileBytes(dir_ / "a_pcm44.wav", MakePcmWave(2, 44100, 16, MakeTestSamples16(2, 44100 * 3)));
        WriteFileBytes(dir_ / "b_ima.wav", MakeImaAdpcmWave(40));
        WriteFileBytes(dir_ / "c_six.wav", MakePcmWave(6, 44100, 16, std::vector<uint8_t>(6 * 2 * 2000)));
        WriteFileBytes(dir_ / "d_text.wav", std::vector<uint8_t>{'n', 'o', ' ', 'w', 'a', 'v', 'e', '\n'});
        WriteFileBytes(dir_ / "e_empty.wav", {});
        std::vector<uint8_t> truncated = MakePcmWave(1, 8000, 16, MakeTestSamples16(1, 1000));
        truncated.resize(30);  // inside the format chunk
        WriteFileBytes(dir_ / "f_cutformat.wav", truncated);
        truncated = MakePcmWave(1, 8000, 16, MakeTestSamples16(1, 1000));
        truncated.resize(44 + 301);  // inside the data, and not on a whole sample
        WriteFileBytes(dir_ / "l_cutdata.wav", truncated);
        WriteFileBytes(dir_ / "g_square8.wav", MakePcmWave(1, 11025, 8, AlternatingSamples8(11025, 64)));
        WriteFileBytes(dir_ / "h_square16.wav", MakePcmWave(1, 11025, 16, AlternatingSamples16(11025, 16384)));
        WriteFileBytes(dir_ / "i_short.wav", MakePcmWave(1, 8000, 16, AlternatingSamples16(10, 30000)));
        WriteFileBytes(dir_ / "j_picture.wav", MakeWaveWithPicture(8, 8, 255, 0, 0));
        WriteFileBytes(dir_ / "k_pcm22.wav", MakePcmWave(1, 22050, 16, MakeTestSamples16(1, 22050 * 3, 7)));
        WriteWideCopies(MakeTestSamples16(2, 44100 * 3));
        wc::Application().OnException = [this](const std::exception& error) {
            std::lock_guard lock(errorsMutex_);
            errors_.push_back(error.what());
        };
        dialog_.SetInitialDir(dir_.path());
    }
    void TearDown() override {
        wc::Application().OnException = nullptr;
        wc::SetNewStyleControls(true);
        std::lock_guard lock(errorsMutex_);
        EXPECT_TRUE(errors_.empty()) << "first error: " << errors_.front();
    }
    std::string Path(const char* name) const { return dir_ / name; }

    // The 16-bit stereo samples of a_pcm44.wav widened: as 24-bit integers
    // with noise below their top 16 bits (m_wide24.wav), and as 32-bit floats
    // of value / 32768 (n_float.wav).
    void WriteWideCopies(const std::vector<uint8_t>& samples16) {
        std::vector<uint8_t> wide24, floats;
        uint32_t noise = 12345;
        for (size_t i = 0; i + 1 < samples16.size(); i += 2) {
            const int16_t v = int16_t(uint16_t(samples16[i] | (samples16[i + 1] << 8)));
            noise = noise * 1103515245u + 12345u;
            wide24.push_back(uint8_t(noise >> 24));
            wide24.push_back(samples16[i]);
            wide24.push_back(samples16[i + 1]);
            const float f = float(v) / 32768.0f;
            uint32_t bits;
            std::memcpy(&bits, &f, 4);
            for (int b = 0; b < 4; ++b) floats.push_back(uint8_t(bits >> (8 * b)));
        }
        WriteFileBytes(dir_ / "m_wide24.wav", MakePcmWave(2, 44100, 24, wide24));
        std::vector<uint8_t> floatWave = MakePcmWave(2, 44100, 32, floats);
        floatWave[20] = 3;  // WAVE_FORMAT_IEEE_FLOAT
        WriteFileBytes(dir_ / "n_float.wav", floatWave);
    }

    // Selects the file and waits until the panel has described it (the label changed).
    static std::string Select(HWND frame, const std::string& prefix) {
        HWND label = PanelControl(frame, kLabel);
        const std::string before = TextOf(label);
        WaitUntil([&] { return !ListViewItems(frame).empty(); });
        if (!SelectListViewItem(frame, prefix)) return "(no item " + prefix + ")";
        WaitUntil([&] { return TextOf(label) != before; }, std::chrono::milliseconds(3000));
        ::Sleep(150);  // the drawing that follows the label
        return TextOf(label);
    }
    static bool Enabled(HWND frame, int id) { return ::IsWindowEnabled(PanelControl(frame, id)) != FALSE; }

    TempDir dir_{"wavedlg"};
    TMMWaveOpenDialog dialog_{nullptr};
    std::mutex errorsMutex_;
    std::vector<std::string> errors_;
};

}  // namespace

TEST(WaveDialogSettings, DefaultsAreThoseOfTheWaveChooser) {
    TMMWaveOpenDialog dialog(nullptr);
    EXPECT_EQ(dialog.Filter, "Wave Files(*.wav)|*.wav");
    EXPECT_EQ(dialog.Title, "Open Wave File");
    EXPECT_EQ(dialog.Options, unsigned(ofHideReadOnly | ofNoNetworkButton));
    EXPECT_EQ(dialog.OptionsEx, unsigned(ofExNoPlacesBar));
    EXPECT_EQ(dialog.DefaultExt, "wav");
    EXPECT_EQ(dialog.TemplateName, "CustomWaveOpenDlg");
    EXPECT_EQ(dialog.FilterIndex, 1);
    EXPECT_EQ(dialog.Color, 0);
    EXPECT_EQ(dialog.ForeColor, 0x00FF00);
    EXPECT_EQ(dialog.LocatorColor, 0x0000FF);
    EXPECT_FALSE(dialog.Preview);
    EXPECT_FALSE(dialog.AutoPlay);
    EXPECT_EQ(dialog.DeviceID, -1);
}

TEST(WaveDialogSettings, LayoutPropertiesReachThePanel) {
    TMMWaveOpenDialog dialog(nullptr);
    wc::LayoutValue yes;
    yes.kind = wc::LayoutValue::Kind::Identifier;
    yes.text = "True";
    EXPECT_TRUE(dialog.SetProperty("Preview", yes));
    EXPECT_TRUE(dialog.SetProperty("AutoPlay", yes));
    wc::LayoutValue color;
    color.kind = wc::LayoutValue::Kind::Identifier;
    color.text = "clYellow";
    EXPECT_TRUE(dialog.SetProperty("ForeColor", color));
    wc::LayoutValue device;
    device.kind = wc::LayoutValue::Kind::Integer;
    device.integer = 0;
    EXPECT_TRUE(dialog.SetProperty("DeviceID", device));
    EXPECT_TRUE(dialog.Preview);
    EXPECT_TRUE(dialog.AutoPlay);
    EXPECT_EQ(dialog.ForeColor, 0x00FFFF);
    EXPECT_EQ(dialog.DeviceID, 0);
}

TEST_F(WaveDialogRun, PanelStartsUnknownWithPlayAndPreviewDisabled) {
    std::string label, previewCaption;
    bool play = true, preview = true, previewChecked = false;
    dialog_.Preview = true;
    RunDriven(dialog_, [&](HWND frame) {
        WaitUntil([&] { return PanelControl(frame, kLabel) != nullptr; });
        label = TextOf(PanelControl(frame, kLabel));
        previewCaption = TextOf(PanelControl(frame, kPreview));
        play = Enabled(frame, kPlay);
        preview = Enabled(frame, kPreview);
        previewChecked = IsChecked(PanelControl(frame, kPreview));
    });
    EXPECT_EQ(label, "Unknown");
    EXPECT_EQ(previewCaption, "Preview");
    EXPECT_FALSE(play);
    EXPECT_FALSE(preview);
    EXPECT_TRUE(previewChecked) << "checked from the Preview property";
}

TEST_F(WaveDialogRun, PcmFileShowsItsFormatAndSizeWithPreviewEnabled) {
    std::string label;
    bool preview = false;
    RunDriven(dialog_, [&](HWND frame) {
        label = Select(frame, "a_");
        preview = Enabled(frame, kPreview);
    });
    EXPECT_EQ(label, "PCM; 44.100 kHz, 16 Bit, Stereo; " + FileSizeKB(Path("a_pcm44.wav")));
    EXPECT_TRUE(preview);
}

TEST_F(WaveDialogRun, ImaAdpcmFileShowsItsNameAndDescriptionWithPreviewDisabled) {
    const std::vector<uint8_t> bytes = MakeImaAdpcmWave(40);
    WAVEFORMATEX* format = reinterpret_cast<WAVEFORMATEX*>(const_cast<uint8_t*>(bytes.data()) + 20);
    std::string name, description;
    ASSERT_TRUE(WaveFormatTexts(format, name, description));
    std::string label;
    bool preview = true;
    RunDriven(dialog_, [&](HWND frame) {
        label = Select(frame, "b_");
        preview = Enabled(frame, kPreview);
    });
    EXPECT_NE(name, "Unknown");
    EXPECT_EQ(label, name + "; " + description + "; " + FileSizeKB(Path("b_ima.wav")));
    EXPECT_FALSE(preview);
}

TEST_F(WaveDialogRun, SixChannelPcmFileDisablesPreview) {
    std::string label;
    bool preview = true;
    RunDriven(dialog_, [&](HWND frame) {
        Select(frame, "a_");
        label = Select(frame, "c_");
        preview = Enabled(frame, kPreview);
    });
    EXPECT_EQ(label.substr(0, 5), "PCM; ");
    EXPECT_FALSE(preview);
}

TEST_F(WaveDialogRun, FilesThatAreNoWavesShowUnknownWithPlayDisabled) {
    std::vector<std::string> labels;
    std::vector<bool> plays;
    RunDriven(dialog_, [&](HWND frame) {
        for (const char* prefix : {"d_", "e_"}) {
            Select(frame, "a_");  // something valid in between, so each change shows
            labels.push_back(Select(frame, prefix));
            plays.push_back(Enabled(frame, kPlay));
        }
    });
    ASSERT_EQ(labels.size(), 2u);
    for (size_t i = 0; i < labels.size(); ++i) {
        EXPECT_EQ(labels[i], "Unknown") << i;
        EXPECT_FALSE(plays[i]) << i;
    }
}

TEST_F(WaveDialogRun, TruncatedWavesAreDescribedAndOnlyOnesWithSamplesPlay) {
    std::string cutFormat, cutData;
    bool cutFormatPlays = true, cutDataPlays = false;
    dialog_.Preview = true;
    RunDriven(dialog_, [&](HWND frame) {
        cutFormat = Select(frame, "f_");
        cutFormatPlays = Enabled(frame, kPlay);
        cutData = Select(frame, "l_");
        cutDataPlays = Enabled(frame, kPlay);
    });
    // A format chunk cut short leaves a format without samples.
    EXPECT_NE(cutFormat, "");
    EXPECT_FALSE(cutFormatPlays);
    EXPECT_EQ(cutData.substr(0, 29), "PCM; 8.000 kHz, 16 Bit, Mono;") << cutData;
    EXPECT_TRUE(cutDataPlays);
}

TEST_F(WaveDialogRun, ConfirmingAnInvalidFileShowsTheMessageAndKeepsTheDialogOpen) {
    std::string message;
    bool openAfter = false;
    const bool confirmed = RunDriven(dialog_, [&](HWND frame) {
        TypeFileName(frame, Path("d_text.wav"));
        PressButton(frame, IDOK);
        HWND box = testing_support::WaitFor([&] { return FindMessageBox(frame); }, std::chrono::milliseconds(5000));
        if (!box) return;
        message = wc::FromWide(testing_support::MessageBoxText(box));
        testing_support::PressOk(box);
        WaitUntil([&] { return !::IsWindow(box); });
        ::Sleep(200);
        openAfter = ::IsWindow(frame) && ::IsWindowVisible(frame);
    });
    EXPECT_EQ(message, "Invalid WaveFile...");
    EXPECT_TRUE(openAfter);
    EXPECT_FALSE(confirmed) << "cancelled in the end";
}

TEST_F(WaveDialogRun, ConfirmingAWaveFileReturnsIt) {
    const bool confirmed = RunDriven(dialog_, [&](HWND frame) {
        Select(frame, "a_");
        TypeFileName(frame, Path("a_pcm44.wav"));
        PressButton(frame, IDOK);
        WaitUntil([&] { return !::IsWindow(frame); });
    });
    EXPECT_TRUE(confirmed);
    EXPECT_TRUE(wc::SameText(dialog_.FileName, Path("a_pcm44.wav"))) << dialog_.FileName;
}

TEST_F(WaveDialogRun, PreviewDrawsEightBitCentredLikeSixteenBitAndShortFilesEndInTheMidLine) {
    dialog_.Preview = true;
    Pixels eight, sixteen, shortWave;
    bool screenshotSaved = false;
    RunDriven(dialog_, [&](HWND frame) {
        Select(frame, "g_");
        eight = CaptureClient(PanelControl(frame, kWaveArea));
        Select(frame, "h_");
        sixteen = CaptureClient(PanelControl(frame, kWaveArea));
        Select(frame, "i_");
        shortWave = CaptureClient(PanelControl(frame, kWaveArea));
        // The dialog moves the current folder: the path is made from the program's.
        const std::string outputDir = testing_support::ProgramDir() + "\\..\\test-output";
        ::CreateDirectoryA(outputDir.c_str(), nullptr);
        Select(frame, "a_");
        ::Sleep(300);
        screenshotSaved = SavePng(CaptureWindow(frame), outputDir + "\\wave-dialog.png");
    });
    EXPECT_TRUE(screenshotSaved);
    ASSERT_GT(sixteen.width, 20);
    ASSERT_EQ(eight.width, sixteen.width);
    const RECT inner{2, 2, sixteen.width - 2, sixteen.height - 2};
    for (int x : {int(inner.left) + 3, sixteen.width / 2, int(inner.right) - 3}) {
        const std::vector<int> rows = sixteen.RowsOf(x, kGreen);
        ASSERT_FALSE(rows.empty()) << "column " << x;
        EXPECT_EQ(eight.RowsOf(x, kGreen), rows) << "column " << x;
        EXPECT_LE(rows.front(), WaveValueY(16384, inner) + 1) << "column " << x;
        EXPECT_GE(rows.back(), WaveValueY(-16384, inner) - 2) << "column " << x;
        EXPECT_EQ(sixteen.At(x, inner.top), 0u) << "the area's background is black above the wave";
    }
    const int mid = inner.top + (inner.bottom - inner.top) / 2;
    for (int x : {int(inner.left) + 30, int(inner.right) - 2})
        EXPECT_EQ(shortWave.RowsOf(x, kGreen), std::vector<int>{mid}) << "column " << x;
    EXPECT_GT(shortWave.RowsOf(inner.left + 1, kGreen).size(), 5u) << "its few samples are drawn at the start";
}

TEST_F(WaveDialogRun, PreviewOffShowsTheGreyZeroLine) {
    Pixels area;
    RunDriven(dialog_, [&](HWND frame) {
        Select(frame, "h_");
        area = CaptureClient(PanelControl(frame, kWaveArea));
    });
    ASSERT_GT(area.width, 20);
    EXPECT_FALSE(area.Contains(kGreen));
    EXPECT_EQ(area.RowsOf(area.width / 2, Rgb(0x80, 0x80, 0x80)).size(), 1u);
}

TEST_F(WaveDialogRun, FileWithAPictureShowsItAndOthersShowTheWaveIcon) {
    Pixels withPicture, withIcon, unknown;
    RunDriven(dialog_, [&](HWND frame) {
        Select(frame, "j_");
        withPicture = CaptureClient(PanelControl(frame, kPicture));
        Select(frame, "h_");
        withIcon = CaptureClient(PanelControl(frame, kPicture));
        Select(frame, "d_");
        unknown = CaptureClient(PanelControl(frame, kPicture));
    });
    ASSERT_GT(withPicture.width, 8);
    EXPECT_EQ(withPicture.At(withPicture.width / 2, withPicture.height / 2), Rgb(255, 0, 0));
    EXPECT_TRUE(withIcon.Contains(kGreen)) << "the icon's sine";
    EXPECT_FALSE(withIcon.Contains(Rgb(255, 0, 255))) << "the icon's magenta is transparent";
    EXPECT_FALSE(withIcon.Contains(Rgb(255, 0, 0)));
    EXPECT_FALSE(unknown.Contains(kGreen)) << "no file, no picture";
}

TEST_F(WaveDialogRun, PlayShowsStopWhilePlayingAndAnotherSelectionStopsIt) {
    std::string whilePlaying, afterSwitch;
    bool playEnabled = false;
    int64_t playedBefore = -1, playedAfter = -1;
    RunDriven(dialog_, [&](HWND frame) {
        HWND play = PanelControl(frame, kPlay);
        Select(frame, "a_");
        playEnabled = Enabled(frame, kPlay);
        playedBefore = FileBytes(PlayedFile());
        PressButton(frame, kPlay);
        WaitUntil([&] { return TextOf(play) == "Stop"; }, std::chrono::milliseconds(3000));
        whilePlaying = TextOf(play);
        ::Sleep(300);
        playedAfter = FileBytes(PlayedFile());
        Select(frame, "k_");
        WaitUntil([&] { return TextOf(play) == "Play"; }, std::chrono::milliseconds(3000));
        afterSwitch = TextOf(play);
    });
    ASSERT_TRUE(playEnabled) << "the test's sound device (tests.cmake) takes PCM";
    EXPECT_EQ(whilePlaying, "Stop");
    EXPECT_EQ(afterSwitch, "Play");
    EXPECT_GT(playedAfter, std::max<int64_t>(playedBefore, 0)) << "bytes reached the device";
}

TEST_F(WaveDialogRun, StopButtonEndsPlayback) {
    std::string stopped;
    RunDriven(dialog_, [&](HWND frame) {
        HWND play = PanelControl(frame, kPlay);
        Select(frame, "a_");
        PressButton(frame, kPlay);
        WaitUntil([&] { return TextOf(play) == "Stop"; }, std::chrono::milliseconds(3000));
        PressButton(frame, kPlay);
        WaitUntil([&] { return TextOf(play) == "Play"; }, std::chrono::milliseconds(3000));
        stopped = TextOf(play);
    });
    EXPECT_EQ(stopped, "Play");
}

TEST_F(WaveDialogRun, AutoPlayStartsEachNewSelection) {
    dialog_.AutoPlay = true;
    std::string first, second;
    bool autoPlayChecked = false;
    RunDriven(dialog_, [&](HWND frame) {
        HWND play = PanelControl(frame, kPlay);
        autoPlayChecked = IsChecked(PanelControl(frame, kAutoPlay));
        Select(frame, "a_");
        WaitUntil([&] { return TextOf(play) == "Stop"; }, std::chrono::milliseconds(3000));
        first = TextOf(play);
        Select(frame, "k_");
        ::Sleep(300);
        second = TextOf(play);
    });
    EXPECT_TRUE(autoPlayChecked);
    EXPECT_EQ(first, "Stop");
    EXPECT_EQ(second, "Stop") << "the new file plays after the panel update";
}

TEST_F(WaveDialogRun, PlayComesUpForAnImaAdpcmFileExactlyWhenTheDeviceTakesItsFormat) {
    // The converter passes tag 0x0011 through; the device (the mapper, with
    // the system's codecs) decides.
    const std::vector<uint8_t> bytes = MakeImaAdpcmWave(40);
    const auto* format = reinterpret_cast<const WAVEFORMATEX*>(bytes.data() + 20);
    const bool playable = TMMWaveOut::QueryFormat(MapperId, format);
    bool play = !playable;
    RunDriven(dialog_, [&](HWND frame) {
        Select(frame, "b_");
        play = Enabled(frame, kPlay);
    });
    EXPECT_EQ(play, playable);
}

TEST_F(WaveDialogRun, OldStyleDialogCarriesThePanelToo) {
    wc::SetNewStyleControls(false);
    std::string label, previewCaption;
    bool play = true;
    RunDriven(dialog_, [&](HWND frame) {
        WaitUntil([&] { return PanelControl(frame, kLabel) != nullptr; });
        label = TextOf(PanelControl(frame, kLabel));
        previewCaption = TextOf(PanelControl(frame, kPreview));
        play = Enabled(frame, kPlay);
    });
    EXPECT_EQ(label, "Unknown");
    EXPECT_EQ(previewCaption, "Preview");
    EXPECT_FALSE(play);
}

namespace {

// Clicks a check box of the panel and waits until it shows `checked`.
bool ClickCheck(HWND frame, int id, bool checked) {
    HWND box = PanelControl(frame, id);
    ::PostMessageW(box, BM_CLICK, 0, 0);
    return WaitUntil([&] { return IsChecked(box) == checked; }, std::chrono::milliseconds(3000));
}

}  // namespace

TEST_F(WaveDialogRun, TickingPreviewAgainDrawsFromThePeakTableWithoutReadingTheFile) {
    dialog_.Preview = true;
    Pixels before, after;
    bool unticked = false, ticked = false, locked = false;
    RunDriven(dialog_, [&](HWND frame) {
        HWND area = PanelControl(frame, kWaveArea);
        Select(frame, "h_");
        before = CaptureClient(area);
        unticked = ClickCheck(frame, kPreview, false);
        ::Sleep(200);
        // Nobody else may open the file now: a read of it would fail and be reported.
        HANDLE file = ::CreateFileA(Path("h_square16.wav").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        locked = file != INVALID_HANDLE_VALUE;
        ticked = ClickCheck(frame, kPreview, true);
        ::Sleep(400);
        after = CaptureClient(area);
        if (locked) ::CloseHandle(file);
    });
    ASSERT_TRUE(unticked && ticked && locked);
    ASSERT_GT(before.width, 20);
    const int x = before.width / 2;
    ASSERT_FALSE(before.RowsOf(x, kGreen).empty());
    EXPECT_EQ(after.RowsOf(x, kGreen), before.RowsOf(x, kGreen)) << "the waveform is back";
}

TEST_F(WaveDialogRun, PlayComesBackWhenPlaybackEndsAfterPreviewWasUntickedDuringIt) {
    // Unticking Preview while a file played greyed Play, and it stayed grey after playback ended.
    dialog_.Preview = true;
    bool unticked = false, greyedWhilePlaying = false, enabledAfter = false;
    std::string whilePlaying, afterEnd;
    RunDriven(dialog_, [&](HWND frame) {
        HWND play = PanelControl(frame, kPlay);
        Select(frame, "k_");
        PressButton(frame, kPlay);
        WaitUntil([&] { return TextOf(play) == "Stop"; }, std::chrono::milliseconds(3000));
        whilePlaying = TextOf(play);
        unticked = ClickCheck(frame, kPreview, false);
        ::Sleep(100);
        greyedWhilePlaying = !Enabled(frame, kPlay);
        // The file lasts 3 s.
        WaitUntil([&] { return TextOf(play) == "Play"; }, std::chrono::milliseconds(10000));
        afterEnd = TextOf(play);
        ::Sleep(100);
        enabledAfter = Enabled(frame, kPlay);
    });
    ASSERT_EQ(whilePlaying, "Stop") << "the test's sound device (tests.cmake) takes PCM";
    ASSERT_TRUE(unticked);
    EXPECT_TRUE(greyedWhilePlaying) << "the panel's rules grey Play while the output plays";
    EXPECT_EQ(afterEnd, "Play");
    EXPECT_TRUE(enabledAfter) << "a playable file with an idle device: Play is enabled";
}

// 24-bit and float waves were drawn as if their bytes were 16-bit samples: noise.
TEST_F(WaveDialogRun, TwentyFourBitAndFloatWavesDrawTheColumnsOfTheirSixteenBitReduction) {
    dialog_.Preview = true;
    Pixels sixteen, wide24, floats;
    RunDriven(dialog_, [&](HWND frame) {
        Select(frame, "a_");
        sixteen = CaptureClient(PanelControl(frame, kWaveArea));
        Select(frame, "m_");
        wide24 = CaptureClient(PanelControl(frame, kWaveArea));
        Select(frame, "n_");
        floats = CaptureClient(PanelControl(frame, kWaveArea));
    });
    ASSERT_GT(sixteen.width, 20);
    ASSERT_TRUE(sixteen.Contains(kGreen));
    ASSERT_EQ(wide24.width, sixteen.width);
    ASSERT_EQ(floats.width, sixteen.width);
    for (int x = 0; x < sixteen.width; ++x) {
        EXPECT_EQ(wide24.RowsOf(x, kGreen), sixteen.RowsOf(x, kGreen)) << "24-bit, column " << x;
        EXPECT_EQ(floats.RowsOf(x, kGreen), sixteen.RowsOf(x, kGreen)) << "float, column " << x;
    }
}
