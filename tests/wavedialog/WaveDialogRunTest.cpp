// The wave chooser driven for real: Execute runs the system dialog on the
// test's thread while a second thread selects files and reads the panel.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "WaveDialogFixture.h"
#include "support/WavePanel.h"
#include "WaveFixtures.h"
#include "dialogs/MMCstDlg.h"
#include "dialogs/WavePeakScan.h"
#include "framework/Dialogs.h"
#include "framework/Forms.h"
#include "framework/Strings.h"
#include "media/playback/MMWavOut.h"
#include "media/wave/MMWaveIO.h"
#include "support/DialogDriver.h"
#include "support/TestSupport.h"

using namespace wavedialog_tests;
using namespace testing_support;

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
        Select(frame, "a_");  // a described file first, so that "Unknown" is a change
        cutFormat = Select(frame, "f_");
        cutFormatPlays = Enabled(frame, kPlay);
        cutData = Select(frame, "l_");
        cutDataPlays = Enabled(frame, kPlay);
    });
    // The file ends inside its format chunk (10 of 16 bytes): the wave layer
    // takes no format with fields the file does not hold, so it is no wave.
    EXPECT_EQ(cutFormat, "Unknown");
    EXPECT_FALSE(cutFormatPlays);
    // 345 bytes, the data cut inside a sample: described, and its samples play.
    EXPECT_EQ(cutData, "PCM; 8.000 kHz, 16 Bit, Mono; 0 KB");
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
        PressButton(Panel(frame), kPlay);
        WaitUntil([&] { return TextOf(play) == "Stop"; }, std::chrono::milliseconds(3000));
        whilePlaying = TextOf(play);
        // The device's file starts afresh when the device opens: it grows from there.
        playedBefore = FileBytes(PlayedFile());
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
        PressButton(Panel(frame), kPlay);
        WaitUntil([&] { return TextOf(play) == "Stop"; }, std::chrono::milliseconds(3000));
        PressButton(Panel(frame), kPlay);
        WaitUntil([&] { return TextOf(play) == "Play"; }, std::chrono::milliseconds(3000));
        stopped = TextOf(play);
    });
    EXPECT_EQ(stopped, "Play");
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

TEST_F(WaveDialogRun, TickingPreviewAgainDrawsFromThePeakTableWithoutReadingTheFile) {
    dialog_.Preview = true;
    Pixels before, after;
    bool unticked = false, ticked = false, locked = false;
    RunDriven(dialog_, [&](HWND frame) {
        HWND area = PanelControl(frame, kWaveArea);
        Select(frame, "h_");
        before = CaptureClient(area);
        unticked = ClickCheckBox(PanelControl(frame, kPreview), false);
        ::Sleep(200);
        // Nobody else may open the file now: a read of it would fail and be reported.
        HANDLE file = ::CreateFileA(Path("h_square16.wav").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        locked = file != INVALID_HANDLE_VALUE;
        ticked = ClickCheckBox(PanelControl(frame, kPreview), true);
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
        PressButton(Panel(frame), kPlay);
        WaitUntil([&] { return TextOf(play) == "Stop"; }, std::chrono::milliseconds(3000));
        whilePlaying = TextOf(play);
        unticked = ClickCheckBox(PanelControl(frame, kPreview), false);
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


TEST_F(WaveDialogRun, ASourceOf5GiBIsDescribedPlayableAndChosen) {
    // Wave access stopped at 2 GiB: larger sources could not be chosen.
    // A sparse RF64 file of 48 kHz 16-bit stereo samples, nearly all a hole.
    constexpr uint64_t kDataBytes = uint64_t(5) << 30;
    ByteWriter head = Rf64Form("RF64", 4 + 36 + 24 + 8 + kDataBytes, kDataBytes);
    head.tag("fmt ").u32(16).u16(1).u16(2).u32(48000).u32(192000).u16(4).u16(16);
    head.tag("data").u32(0xFFFFFFFF);
    WriteSparseFile(Path("s_huge.wav"), head.data(), 80 + kDataBytes - 4, {1, 2, 3, 4});
    std::string label;
    bool play = false;
    const bool confirmed = RunDriven(dialog_, [&](HWND frame) {
        label = Select(frame, "s_");
        play = Enabled(frame, kPlay);
        TypeFileName(frame, Path("s_huge.wav"));
        PressButton(frame, IDOK);
        WaitUntil([&] { return !::IsWindow(frame); });
    });
    // (5 * 2^30 + 80) / 1024 = 5242880 KB, truncated.
    EXPECT_EQ(label, "PCM; 48.000 kHz, 16 Bit, Stereo; 5242880 KB");
    EXPECT_TRUE(play);
    EXPECT_TRUE(confirmed);
    EXPECT_TRUE(wc::SameText(dialog_.FileName, Path("s_huge.wav"))) << dialog_.FileName;
}

namespace {

// A name outside the ANSI code page: the chooser's OK left no file chosen.
TEST_F(WaveDialogRun, ANameOutsideTheCodePageIsDescribedPlayedAndChosen) {
    const std::wstring path = wc::ToWide(dir_.path()) + L"\\u_caf\u00e9 \U0001F3B5.wav";
    // 44 header bytes and 40916 of silence: 40960 bytes, "40 KB".
    WriteFileBytes(path, MakePcmWave(1, 22050, 16, std::vector<uint8_t>(40960 - 44)));
    std::string label, playing;
    int64_t playedBefore = -1, playedAfter = -1;
    const bool confirmed = RunDriven(dialog_, [&](HWND frame) {
        label = Select(frame, "u_");
        HWND play = PanelControl(frame, kPlay);
        PressButton(Panel(frame), kPlay);
        WaitUntil([&] { return TextOf(play) == "Stop"; }, std::chrono::milliseconds(3000));
        playing = TextOf(play);
        playedBefore = FileBytes(PlayedFile());
        WaitUntil([&] { return FileBytes(PlayedFile()) > std::max<int64_t>(playedBefore, 0); },
                  std::chrono::milliseconds(3000));
        playedAfter = FileBytes(PlayedFile());
        PressButton(Panel(frame), kPlay);
        PressButton(frame, IDOK);
        WaitUntil([&] { return !::IsWindow(frame); });
    });
    EXPECT_EQ(label, "PCM; 22.050 kHz, 16 Bit, Mono; 40 KB");
    EXPECT_EQ(playing, "Stop");
    EXPECT_GT(playedAfter, std::max<int64_t>(playedBefore, 0)) << "bytes reached the device";
    EXPECT_TRUE(confirmed);
    EXPECT_EQ(dialog_.FileName, dir_.path() + "\\u_caf\xC3\xA9 \xF0\x9F\x8E\xB5.wav") << "the name as UTF-8";
}

}  // namespace
