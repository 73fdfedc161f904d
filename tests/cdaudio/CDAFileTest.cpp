// TMMCDAFile: track file names, loading a track, settings per drive, time
// and position, tags and file information.
#include <gtest/gtest.h>

#include "CDAudioFixtures.h"
#include "framework/Handles.h"
#include "media/MMErrors.h"
#include "support/TestSupport.h"

namespace cdaudio_tests {
namespace {

constexpr const char* kNotTrackFile = "This is not a valid CDA file";
constexpr const char* kUnableToLoad = "Unable to load CDA file";

TEST(CDATrackNameTest, TheNumberAfterTheFiveLetterPrefixIsTheTrack) {
    EXPECT_EQ(TMMCDAFile::TrackIndexOf("D:\\Track05.cda"), 4);
    EXPECT_EQ(TMMCDAFile::TrackIndexOf("D:\\Track5.cda"), 4);
    EXPECT_EQ(TMMCDAFile::TrackIndexOf("X:\\Track12.CDA"), 11);
    EXPECT_EQ(TMMCDAFile::TrackIndexOf("X:\\Track01.cda"), 0);
    EXPECT_EQ(TMMCDAFile::TrackIndexOf("Piste07.cda"), 6);
    EXPECT_EQ(TMMCDAFile::TrackIndexOf("X:\\TrackAB.cda"), -1);
    EXPECT_EQ(TMMCDAFile::TrackIndexOf("X:\\Track.cda"), -1);
    EXPECT_EQ(TMMCDAFile::TrackIndexOf("X:\\Trk1.cda"), -1);
}

TEST(CDATrackNameTest, ATrackFileNameContainsCdaInAnyCase) {
    EXPECT_TRUE(TMMCDAFile::IsTrackFileName("D:\\Track05.cda"));
    EXPECT_TRUE(TMMCDAFile::IsTrackFileName("d:\\TRACK05.CDA"));
    EXPECT_TRUE(TMMCDAFile::IsTrackFileName("x.CdA"));
    EXPECT_FALSE(TMMCDAFile::IsTrackFileName("D:\\Track05.wav"));
    EXPECT_FALSE(TMMCDAFile::IsTrackFileName("D:\\Track05cda"));
}

using CDAFileTest = CDAudioTest;

TEST_F(CDAFileTest, DescribesItsFilesAsTheReaderOfCdTracks) {
    TMMCDAFile& file = wc::MakeComponent<TMMCDAFile>(root_);
    EXPECT_EQ(file.FileKind(), 5u);
    EXPECT_EQ(file.GetFilterText(), "Digital Audio File (*.cda)|*.cda");
    EXPECT_EQ(file.GetFileMask(), "*.cda");
    EXPECT_EQ(file.GetBlockSize(), 2352);
    EXPECT_TRUE(file.IsEmpty());
    EXPECT_EQ(file.Time(), 0);
    EXPECT_EQ(file.TrackIndex(), -1);
    EXPECT_TRUE(file.CanRead("X:\\Track01.cda"));
    EXPECT_FALSE(file.CanRead("X:\\Track01.wav"));
    // The reader's format reaches the track file.
    ASSERT_NE(file.PWaveFormat(), nullptr);
    EXPECT_EQ(file.PWaveFormat()->nSamplesPerSec, 44100u);
    EXPECT_EQ(file.Reader().Output(), &file);
}

TEST_F(CDAFileTest, ANameWithoutCdaIsRefusedBeforeAnyDeviceAccess) {
    TMMCDAFile& file = wc::MakeComponent<TMMCDAFile>(root_);
    Mark();
    EXPECT_EQ(testing_support::ErrorText<EMMAudioError>([&] { file.SetFileName("X:\\Track01.wav"); }), kNotTrackFile);
    EXPECT_TRUE(Since().empty()) << "the drive received " << Since().size() << " commands";
    EXPECT_TRUE(file.IsEmpty());
    EXPECT_EQ(file.Reader().DeviceID(), -2);
}

TEST_F(CDAFileTest, ANameOnADriveWithoutCdDeviceCannotBeLoaded) {
    TMMCDAFile& file = wc::MakeComponent<TMMCDAFile>(root_);
    EXPECT_EQ(testing_support::ErrorText<EMMAudioError>([&] { file.SetFileName("Q:\\Track01.cda"); }), kUnableToLoad);
    EXPECT_TRUE(file.IsEmpty());
}

TEST_F(CDAFileTest, ATrackTheDiscLacksCannotBeLoaded) {
    TMMCDAFile& file = wc::MakeComponent<TMMCDAFile>(root_);
    EXPECT_EQ(testing_support::ErrorText<EMMAudioError>([&] { file.SetFileName("X:\\Track09.cda"); }), kUnableToLoad);
    EXPECT_EQ(testing_support::ErrorText<EMMAudioError>([&] { file.SetFileName("X:\\TrackAB.cda"); }), kUnableToLoad);
    EXPECT_EQ(file.TrackIndex(), -1);
    EXPECT_TRUE(file.IsEmpty());
    EXPECT_EQ(CDDrives().LockCount(kDriveLetter), 0);
}

TEST_F(CDAFileTest, ATrackFileSelectsItsTrackAndLocksTheMediumUntilCleared) {
    TMMCDAFile& file = wc::MakeComponent<TMMCDAFile>(root_);
    int changes = 0;
    file.OnChange = [&](wc::TComponent*) { ++changes; };
    Mark();
    file.SetFileName("x:\\Track2.cda");
    EXPECT_EQ(file.FileName(), "x:\\Track2.cda");
    EXPECT_FALSE(file.IsEmpty());
    EXPECT_EQ(file.TrackIndex(), 1);
    EXPECT_EQ(file.Reader().DeviceID(), 0);
    EXPECT_EQ(file.Reader().BlockCount(), 10);
    EXPECT_EQ(file.Reader().FirstSector(), 1000);
    EXPECT_EQ(file.Reader().EndSector(), 1099);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(CommandsOf(Since(), 0x1E), (std::vector<std::string>{"1E 00 00 00 01 00"}));
    EXPECT_EQ(CDDrives().LockCount(kDriveLetter), 1);
    // 100 frames are 1 s and 25 frames: 1333 ms.
    EXPECT_EQ(file.Time(), 1333);

    // The same name again changes nothing.
    file.SetFileName("x:\\Track2.cda");
    EXPECT_EQ(changes, 1);

    file.SetFileName("X:\\Track03.cda");
    EXPECT_EQ(file.TrackIndex(), 2);
    EXPECT_EQ(changes, 3) << "closing the old track and opening the new one each tell";
    EXPECT_EQ(CDDrives().LockCount(kDriveLetter), 1);
    // 900 frames are 12 s.
    EXPECT_EQ(file.Time(), 12000);

    file.SetFileName("");
    EXPECT_TRUE(file.IsEmpty());
    EXPECT_EQ(file.TrackIndex(), -1);
    EXPECT_EQ(changes, 4);
    EXPECT_EQ(CDDrives().LockCount(kDriveLetter), 0);
    const std::vector<std::string> locks = CommandsOf(Since(), 0x1E);
    ASSERT_FALSE(locks.empty());
    EXPECT_EQ(locks.back(), "1E 00 00 00 00 00");
}

class CDASettingsTest : public CDAudioTest {
protected:
    const std::string key = "Software\\Quillmark\\CDAFile\\Devices\\PLEXTOR - PX-TEST";
    void TearDown() override {
        ::RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
        CDAudioTest::TearDown();
    }
    void Write(const char* name, DWORD value) {
        wc::RegistryKeyHandle handle;
        ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, handle.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegSetValueExA(handle.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
                  ERROR_SUCCESS);
    }
};

TEST_F(CDASettingsTest, TypeAndSpeedComeFromTheDrivesKeyOfTheCurrentUser) {
    Write("Type", 22);
    Write("Speed", 4);
    TMMCDAFile& file = wc::MakeComponent<TMMCDAFile>(root_);
    file.SetFileName("X:\\Track01.cda");
    EXPECT_EQ(file.Reader().DeviceType(), 22);
    EXPECT_EQ(file.Reader().Speed(), 4);
}

TEST_F(CDASettingsTest, WithoutAKeyTheTypeStaysAndTheSpeedIsTheDrivesOwn) {
    ::RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
    TMMCDAFile& file = wc::MakeComponent<TMMCDAFile>(root_);
    file.SetFileName("X:\\Track01.cda");
    EXPECT_EQ(file.Reader().DeviceType(), 0);
    EXPECT_EQ(file.Reader().Speed(), -1);
}

TEST_F(CDAFileTest, PositionsAreMillisecondsThroughMinutesSecondsAndFrames) {
    TMMCDAFile& file = wc::MakeComponent<TMMCDAFile>(root_);
    file.SetFileName("X:\\Track02.cda");
    EXPECT_EQ(file.PositionMs(), 0);
    // 500 ms: 0.5 s x 75 = 37.5 frames, rounded to 38; back: 38 frames = 506.67 ms, rounded to 507.
    file.SetPositionMs(500);
    EXPECT_EQ(file.Reader().CurrentSector(), 1038);
    EXPECT_EQ(file.PositionMs(), 507);
    EXPECT_EQ(file.Position(), 507);
    // Beyond the end: held to the track's 1333 ms, which are 1 s and 24.975 -> 25 frames.
    file.SetPosition(99999);
    EXPECT_EQ(file.Reader().CurrentSector(), 1100);
    EXPECT_EQ(file.PositionMs(), 1333);
    file.SetPositionMs(-20);
    EXPECT_EQ(file.Reader().CurrentSector(), 1000);
}

TEST_F(CDAFileTest, TagsComeFromTheFirstTextBlock) {
    TMMCDAFile& file = wc::MakeComponent<TMMCDAFile>(root_);
    file.SetFileName("X:\\Track02.cda");
    MpegTagInfo tag;
    ASSERT_TRUE(file.ReadTag(tag));
    EXPECT_EQ(tag.Title, "Second Song");
    EXPECT_EQ(tag.Artist, "Singer Two");
    EXPECT_EQ(tag.Album, "Disc Title");
    EXPECT_EQ(tag.Year, "");
    EXPECT_EQ(tag.Genre, 12);
    // Track 3 has no text: its title is made from its number.
    file.SetFileName("X:\\Track03.cda");
    ASSERT_TRUE(file.ReadTag(tag));
    EXPECT_EQ(tag.Title, "Track 03");
    EXPECT_EQ(tag.Artist, "");
    EXPECT_EQ(tag.Album, "Disc Title");
}

TEST_F(CDAFileTest, WithoutCDTextTheTitleIsTheTrackNumber) {
    ASSERT_TRUE(drive_.Describe("device 0 0 0 vendor=\"PLEXTOR\" product=\"PX-TEST\"\ntrack 1 0 0\ntrack 2 0 300\nleadout 500\n"));
    TMMCDAFile& file = wc::MakeComponent<TMMCDAFile>(root_);
    file.SetFileName("X:\\Track02.cda");
    MpegTagInfo tag;
    ASSERT_TRUE(file.ReadTag(tag));
    EXPECT_EQ(tag.Title, "Track 02");
    EXPECT_EQ(tag.Album, "");
}

TEST_F(CDAFileTest, FileInfoNeedsTheFileAndTellsKindLengthAndTag) {
    TMMCDAFile& file = wc::MakeComponent<TMMCDAFile>(root_);
    TMMFileInfo info;
    EXPECT_FALSE(file.GetFileInfo("X:\\Track01.cda", info)) << "no such file on the drive";
    const std::string name = "X:\\Track01.cda";
    testing_support::WriteFileBytes(name, std::vector<uint8_t>(44, 0));
    const bool got = file.GetFileInfo(name, info);
    ::DeleteFileA(name.c_str());
    ASSERT_TRUE(got);
    EXPECT_EQ(info.Kind, 5u);
    // 1000 frames: 13 s and 25 frames, 13333 ms.
    EXPECT_EQ(info.LengthMs, 13333u);
    EXPECT_EQ(info.Info[0], 0u);
    EXPECT_EQ(info.Info[1], 0u);
    EXPECT_EQ(info.Info[2], 0u);
    EXPECT_EQ(info.Info[3], 0u);
    EXPECT_EQ(info.Tag.Title, "First Song");
    EXPECT_EQ(info.Tag.Artist, "Singer One");
    EXPECT_EQ(info.Tag.Album, "Disc Title");
    EXPECT_EQ(info.Tag.Genre, 12u);
    EXPECT_EQ(CDDrives().LockCount(kDriveLetter), 0) << "the temporary track file gave its lock back";
}

TEST_F(CDAFileTest, EnabledAndAbortReachTheReader) {
    TMMCDAFile& file = wc::MakeComponent<TMMCDAFile>(root_);
    file.SetEnabled(false);
    EXPECT_FALSE(file.Reader().Enabled());
    file.SetEnabled(true);
    EXPECT_TRUE(file.Reader().Enabled());
    file.SetFileName("X:\\Track02.cda");
    file.Reader().Opened();
    file.Reader().Started();
    file.AbortRead();
    EXPECT_TRUE(file.Reader().Context()->abort);
    file.Reader().Closed();
}

}  // namespace
}  // namespace cdaudio_tests
