// TMMMpeg: the library's information as properties, the PCM format, frame
// and millisecond positions, seeking with its pre-roll, tags and Assign.
#include "MpegFixtures.h"

#include <cstring>

#include "framework/Strings.h"
#include "media/MMErrors.h"
#include "support/TestSupport.h"

namespace mpeg_tests {
namespace {

using namespace testing_support;

std::string ErrorOf(const std::function<void()>& action) { return ErrorText<EMMMpegError>(action); }

TEST(MpegObjectTest, EmptyObjectReportsVersion1AndZeros) {
    TMMMpeg mpeg;
    EXPECT_TRUE(mpeg.IsEmpty());
    EXPECT_EQ(mpeg.Version(), v1);
    EXPECT_EQ(mpeg.Layer(), 0);
    EXPECT_EQ(mpeg.BitRate(), 0);
    EXPECT_EQ(mpeg.SampleRate(), 0);
    EXPECT_EQ(mpeg.Frames(), 0);
    EXPECT_EQ(mpeg.Time(), 0);
    EXPECT_EQ(mpeg.PWaveFormat(), nullptr);
    EXPECT_EQ(mpeg.BytesPerFrame(), 0);
    EXPECT_EQ(mpeg.ChannelMode(), cmBoth);
    EXPECT_EQ(mpeg.TrailingHeader(), 0u);
    EXPECT_FALSE(mpeg.Exactposition());
    uint8_t buffer[16];
    EXPECT_EQ(mpeg.Read(buffer, sizeof buffer), 0) << "not open";
}

// TrailingHeader set after the file name (the stored layout's order) was
// only stored, while success was reported.
TEST(MpegObjectTest, TrailingHeaderTakesEffectWhenSetAfterTheFileName) {
    TMMMpeg mpeg;
    mpeg.SetFileName(Fixture("plain.mp3"));
    const int frames = FramesOf(Fixture("plain.mp3")).frames;
    ASSERT_EQ(mpeg.Frames(), frames);
    // One byte off the end cuts the last frame short, and a short frame is dropped.
    mpeg.SetTrailingHeader(1);
    EXPECT_EQ(mpeg.Frames(), frames - 1);
    mpeg.SetTrailingHeader(0);
    EXPECT_EQ(mpeg.Frames(), frames);
}

TEST(MpegObjectTest, FileNameRunsTheChangeNotificationFromTheLibrary) {
    TMMMpeg mpeg;
    int changes = 0;
    int layerSeen = -1;
    mpeg.OnChange = [&](TMMObject*) {
        ++changes;
        layerSeen = mpeg.Layer();
    };
    mpeg.SetFileName(Fixture("cbr44s.mp3"));
    EXPECT_GE(changes, 1);
    EXPECT_EQ(layerSeen, 3) << "the information is read before the observers hear of it";
    EXPECT_EQ(mpeg.FileName(), Fixture("cbr44s.mp3"));
    EXPECT_EQ(mpeg.Version(), v1);
    EXPECT_EQ(mpeg.Mode(), smJointStereo);
    EXPECT_EQ(mpeg.BitRate(), 128);
    EXPECT_EQ(mpeg.SampleRate(), 44100);
    const WAVEFORMATEX* format = mpeg.PWaveFormat();
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(format->wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(format->nChannels, 2);
    EXPECT_EQ(format->wBitsPerSample, 16);
    EXPECT_EQ(format->nSamplesPerSec, 44100u);
    // 1152 samples of 4 bytes.
    EXPECT_EQ(mpeg.BytesPerFrame(), 4608);
}

// The library takes ANSI names only: a file named outside the code page
// could not be opened through it.
TEST(MpegObjectTest, AFileNamedOutsideTheCodePageIsReadUnderItsShortName) {
    TempDir dir("wc mpeg names");
    const std::wstring wide = wc::ToWide(dir.path()) + L"\\caf\u00e9 \U0001F3B5 take.mp3";
    ASSERT_TRUE(::CopyFileW(wc::ToWide(Fixture("cbr44s.mp3")).c_str(), wide.c_str(), FALSE));
    TMMMpeg plain, named;
    plain.SetFileName(Fixture("cbr44s.mp3"));
    named.SetFileName(dir.path() + "\\caf\xC3\xA9 \xF0\x9F\x8E\xB5 take.mp3");  // UTF-8
    ASSERT_FALSE(named.IsEmpty());
    EXPECT_EQ(named.SampleRate(), 44100);
    EXPECT_EQ(named.BitRate(), 128);
    EXPECT_GT(plain.Frames(), 0);
    EXPECT_EQ(named.Frames(), plain.Frames()) << "the same file under another name";
}

TEST(MpegObjectTest, ReadOnlyNumbersIgnoreTheirSetters) {
    TMMMpeg mpeg;
    mpeg.SetFileName(Fixture("s48.mp2"));
    mpeg.SetVersion(v2LSF);
    mpeg.SetLayer(1);
    mpeg.SetMode(smSingleChannel);
    mpeg.SetBitRate(8);
    EXPECT_EQ(mpeg.Version(), v1);
    EXPECT_EQ(mpeg.Layer(), 2);
    EXPECT_EQ(mpeg.Mode(), smStereo);
    EXPECT_EQ(mpeg.BitRate(), 192);
}

TEST(MpegObjectTest, BytesPerFrameRoundsDownToWholeSampleFrames) {
    TMMMpeg mpeg;
    // MPEG-2 at 22.05 kHz: 576 samples of 4 bytes.
    mpeg.SetFileName(Fixture("lsf22s.mp3"));
    EXPECT_EQ(mpeg.Version(), v2LSF);
    EXPECT_EQ(mpeg.BytesPerFrame(), 2304);
    // Mono 48 kHz: 1152 samples of 2 bytes.
    mpeg.SetFileName(Fixture("vbr48m.mp3"));
    EXPECT_EQ(mpeg.BytesPerFrame(), 2304);
    EXPECT_EQ(mpeg.PWaveFormat()->nChannels, 1);
}

TEST(MpegObjectTest, ChannelModeMakesMonoAndIsRefusedWhileOpen) {
    TMMMpeg mpeg;
    mpeg.SetFileName(Fixture("s48.mp2"));
    const std::vector<int16_t> both = DecodeAll(mpeg);
    mpeg.Close();
    mpeg.SetPosition(0);
    mpeg.SetChannelMode(cmRight);
    EXPECT_EQ(mpeg.ChannelMode(), cmRight);
    EXPECT_EQ(mpeg.PWaveFormat()->nChannels, 1);
    EXPECT_EQ(mpeg.BytesPerFrame(), 2304);
    const std::vector<int16_t> right = DecodeAll(mpeg);
    ASSERT_EQ(right.size() * 2, both.size());
    for (size_t i = 0; i < right.size(); i += 997) EXPECT_EQ(right[i], both[2 * i + 1]) << i;
    EXPECT_EQ(ErrorOf([&] { mpeg.SetChannelMode(cmBoth); }), "Change to property while device was open");
    EXPECT_EQ(mpeg.ChannelMode(), cmRight);
    mpeg.Close();
    mpeg.SetPosition(0);
    mpeg.SetChannelMode(cmDownMix);
    const std::vector<int16_t> mix = DecodeAll(mpeg);
    ASSERT_EQ(mix.size(), right.size());
    for (size_t i = 0; i < mix.size(); i += 991) EXPECT_EQ(mix[i], (both[2 * i] + both[2 * i + 1]) / 2) << i;
}

TEST(MpegObjectTest, MillisecondPositionsRoundHalvesToEven) {
    TMMMpeg mpeg;
    mpeg.SetFileName(Fixture("s48.mp2"));  // 24 ms per frame
    mpeg.SetPositionMs(36);                // 1.5 frames: to the even 2
    EXPECT_EQ(mpeg.Position(), 2);
    mpeg.SetPositionMs(60);  // 2.5 frames: to the even 2
    EXPECT_EQ(mpeg.Position(), 2);
    mpeg.SetPositionMs(61);
    EXPECT_EQ(mpeg.Position(), 3);
    EXPECT_EQ(mpeg.PositionMs(), 72);
    mpeg.SetFileName(Fixture("cbr44s.mp3"));  // 26.1224... ms per frame
    mpeg.SetPosition(3);
    EXPECT_EQ(mpeg.PositionMs(), 78);  // 78.367
}

TEST(MpegObjectTest, SeekWhileClosedPositionsExactly) {
    TMMMpeg mpeg;
    mpeg.SetFileName(Fixture("s48.mp2"));
    const std::vector<int16_t> all = DecodeAll(mpeg);
    mpeg.Close();
    mpeg.SetPosition(5);
    EXPECT_EQ(mpeg.Position(), 5);
    const std::vector<int16_t> rest = DecodeAll(mpeg);
    // Layer II frames stand alone: decoding from frame 5 gives its samples, settled after one frame.
    ASSERT_EQ(rest.size(), all.size() - 5 * 1152 * 2);
    const std::vector<int16_t> tail(all.end() - rest.size() + 1152 * 2, all.end());
    EXPECT_GE(AlignedSnrDb(tail, std::vector<int16_t>(rest.begin() + 1152 * 2, rest.end()), 2, 0), 60.0);
}

TEST(MpegObjectTest, SeekToFrame1WhileOpenStartsAtFrame0AndDecodesForward) {
    TMMMpeg mpeg;
    mpeg.SetFileName(Fixture("cbr44s.mp3"));
    const std::vector<int16_t> all = DecodeAll(mpeg);
    mpeg.Close();
    mpeg.Open();
    mpeg.SetPosition(1);
    EXPECT_EQ(mpeg.Position(), 1);
    std::vector<uint8_t> bytes(4608 * 3);
    ASSERT_EQ(mpeg.Read(bytes.data(), int32_t(bytes.size())), int32_t(bytes.size()));
    // Decoded from frame 0 like the whole file: the samples of frames 1 to 3 exactly.
    const std::vector<int16_t> got = ToSamples(bytes);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), all.begin() + 1152 * 2));
}

// Seeks to frame 40 of an open file and returns the next ten frames' samples.
std::vector<int16_t> TenFramesFrom40(TMMMpeg& mpeg) {
    mpeg.Open();
    mpeg.SetPosition(40);
    EXPECT_EQ(mpeg.Position(), 40);
    std::vector<uint8_t> bytes(4608 * 10);
    EXPECT_EQ(mpeg.Read(bytes.data(), int32_t(bytes.size())), int32_t(bytes.size()));
    return ToSamples(bytes);
}

TEST(MpegObjectTest, SeekWhileOpenPrerollsTwoFramesAndSettlesWithinOne) {
    TMMMpeg mpeg;
    mpeg.SetFileName(Fixture("cbr44s.mp3"));
    const std::vector<int16_t> all = DecodeAll(mpeg);
    mpeg.Close();
    const std::vector<int16_t> got = TenFramesFrom40(mpeg);
    // Layer III borrows data from earlier frames and overlaps with the one
    // before: the system decoder settles one frame after the pre-roll.
    const std::vector<int16_t> reference(all.begin() + 41 * 1152 * 2, all.begin() + 50 * 1152 * 2);
    EXPECT_GE(AlignedSnrDb(reference, std::vector<int16_t>(got.begin() + 1152 * 2, got.end()), 2, 0), 60.0);
    // Past the end: a failure names the frame.
    EXPECT_EQ(ErrorOf([&] { mpeg.SetPosition(100000); }), "Frame position out of range: 100000");
}

TEST(MpegObjectTest, ExactPositionSeekDeliversTheFrameItself) {
    TMMMpeg mpeg;
    mpeg.SetFileName(Fixture("cbr44s.mp3"));
    const std::vector<int16_t> all = DecodeAll(mpeg);
    mpeg.Close();
    mpeg.SetExactposition(true);
    EXPECT_TRUE(mpeg.Exactposition());
    const std::vector<int16_t> got = TenFramesFrom40(mpeg);
    const std::vector<int16_t> reference(all.begin() + 40 * 1152 * 2, all.begin() + 50 * 1152 * 2);
    EXPECT_GE(AlignedSnrDb(reference, got, 2, 0), 60.0);
}

TEST(MpegObjectTest, TagFieldsAreTrimmedAndGenreNamed) {
    TMMMpeg mpeg;
    mpeg.SetFileName(Fixture("tagged.mp3"));
    MpegTagInfo tag;
    ASSERT_TRUE(mpeg.ReadTag(tag));
    EXPECT_EQ(tag.Title, "Test Title");
    EXPECT_EQ(tag.Artist, "Some Artist");
    EXPECT_EQ(tag.Album, "An Album");
    EXPECT_EQ(tag.Year, "2001");
    EXPECT_EQ(tag.Comment, "A comment");
    EXPECT_EQ(tag.Track, 7 << 8) << "zero marker, then track 7";
    EXPECT_EQ(tag.Genre, 17);
    EXPECT_EQ(tag.GenreText, "Rock");
    EXPECT_FALSE(tag.Flag);
    mpeg.SetFileName(Fixture("id3v2.mp3"));
    EXPECT_FALSE(mpeg.ReadTag(tag));
}

TEST(MpegTagTest, BlockFieldsAreCutAtTheirWidthAndTrimmed) {
    uint8_t block[128];
    std::memset(block, ' ', sizeof block);
    std::memcpy(block, "TAG", 3);
    std::memcpy(block + 3, "  Padded title", 14);
    std::memcpy(block + 33, "ArtistArtistArtistArtistArtistXX", 30);  // exactly full
    block[63] = 0;                                                     // empty album
    std::memcpy(block + 93, "1999", 4);
    std::memcpy(block + 97, "comment\0hidden", 14);
    block[125] = 0;
    block[126] = 12;
    block[127] = 126;
    MpegTagInfo tag;
    tag.GenreText = "stale";
    MpegTagFromBlock(block, tag);
    EXPECT_EQ(tag.Title, "Padded title");
    EXPECT_EQ(tag.Artist, "ArtistArtistArtistArtistArtist");
    EXPECT_EQ(tag.Album, "");
    EXPECT_EQ(tag.Year, "1999");
    EXPECT_EQ(tag.Comment, "comment");
    EXPECT_EQ(tag.Track, 12 << 8);
    EXPECT_EQ(tag.Genre, 126);
    EXPECT_EQ(tag.GenreText, "") << "a genre of 126 or more has no name";
    block[127] = 125;
    MpegTagFromBlock(block, tag);
    EXPECT_EQ(tag.GenreText, "Dance Hall");
}

TEST(MpegTagTest, GenreTableHoldsTheListedNames) {
    ASSERT_EQ(MpegGenreNames.size(), 126u);
    EXPECT_STREQ(MpegGenreNames[0], "Blues");
    EXPECT_STREQ(MpegGenreNames[1], "Classic Rock");
    EXPECT_STREQ(MpegGenreNames[2], "Country");
    EXPECT_STREQ(MpegGenreNames[3], "Dance");
    EXPECT_STREQ(MpegGenreNames[67], "Psychadelic");
    EXPECT_STREQ(MpegGenreNames[85], "Bebob");
    EXPECT_STREQ(MpegGenreNames[40], "Alt. Rock");
    EXPECT_STREQ(MpegGenreNames[62], "Pop/Funk");
    EXPECT_STREQ(MpegGenreNames[81], "Folk/Rock");
    EXPECT_STREQ(MpegGenreNames[78], "Rock & Roll");
    EXPECT_STREQ(MpegGenreNames[120], "Duet");
    EXPECT_STREQ(MpegGenreNames[121], "Punk Rock");
    EXPECT_STREQ(MpegGenreNames[122], "Drum Solo");
    EXPECT_STREQ(MpegGenreNames[123], "A capella");
    EXPECT_STREQ(MpegGenreNames[124], "Euro-House");
    EXPECT_STREQ(MpegGenreNames[125], "Dance Hall");
}

TEST(MpegObjectTest, AssignCopiesFileChannelModeTrailingHeaderAndPosition) {
    TMMMpeg source;
    source.SetFileName(Fixture("s48.mp2"));
    source.SetChannelMode(cmLeft);
    source.SetPosition(7);
    TMMMpeg copy;
    copy.Assign(&source);
    EXPECT_EQ(copy.FileName(), Fixture("s48.mp2"));
    EXPECT_EQ(copy.ChannelMode(), cmLeft);
    EXPECT_EQ(copy.Position(), 7);
    EXPECT_EQ(copy.PWaveFormat()->nChannels, 1);
    int changes = 0;
    copy.OnChange = [&](TMMObject*) { ++changes; };
    copy.Assign(nullptr);
    EXPECT_TRUE(copy.IsEmpty());
    EXPECT_GE(changes, 1);
    TMMObject other;
    EXPECT_THROW(copy.Assign(&other), wc::Exception);
}

TEST(MpegObjectTest, BadFileRaisesTheLibrarysText) {
    TMMMpeg mpeg;
    const std::string path = ScratchPath("zeros.mp3");
    WriteFileBytes(path, std::vector<uint8_t>(5000, 0));
    EXPECT_EQ(ErrorOf([&] { mpeg.SetFileName(path); }), "No MPEG audio frames found in the file");
    EXPECT_TRUE(mpeg.IsEmpty());
}

}  // namespace
}  // namespace mpeg_tests
