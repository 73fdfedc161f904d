// TMMMPEGFile: the reader's class-level questions, its registry entry, its
// place at the head of a chain, and real playback through the wave output.
#include "MpegFixtures.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "framework/Components.h"
#include "framework/Forms.h"
#include "media/wave/MMAudReg.h"
#include "media/playback/MMWavOut.h"
#include "support/ChainFixtures.h"
#include "support/WaveOutFixtures.h"
#include "framework/Files.h"
#include "media/MMErrors.h"
#include "support/TestSupport.h"

namespace mpeg_tests {
namespace {

using namespace testing_support;

class MpegFileTest : public ::testing::Test {
protected:
    wc::TComponent root{nullptr};
    TMMMPEGFile& reader = wc::MakeComponent<TMMMPEGFile>(root);
    TestSink& sink = wc::MakeComponent<TestSink>(root);

    void PlayFrom(const std::string& path) {
        reader.SetFileName(path);
        sink.SetInput(&reader);
        reader.Opened();
        reader.Started();
    }
};

TEST_F(MpegFileTest, NamesItsKindFilterAndMask) {
    EXPECT_EQ(reader.FileKind(), 2u);
    EXPECT_EQ(reader.GetFilterText(), "MPEG Files (*.mp?;*.atx)|*.mp2;*.mp3;*.atx|Antex Files (*.atx)|*.atx");
    EXPECT_EQ(reader.GetFileMask(), "*.mp2;*.mp3;*.atx");
}

TEST_F(MpegFileTest, CanReadJudgesExtensionThenWaveTagThenTheLibrary) {
    TempDir dir("mpegcanread");
    EXPECT_TRUE(reader.CanRead(Fixture("cbr44s.mp3")));
    EXPECT_TRUE(reader.CanRead(Fixture("s48.mp2")));
    // An MPEG file named .wav is refused before any file access.
    ASSERT_TRUE(CopyFileTo(Fixture("plain.mp3"), dir / "song.wav"));
    EXPECT_FALSE(reader.CanRead(dir / "song.wav"));
    ASSERT_TRUE(CopyFileTo(Fixture("plain.mp3"), dir / "SONG.MP3"));
    EXPECT_TRUE(reader.CanRead(dir / "SONG.MP3"));
    ASSERT_TRUE(CopyFileTo(Fixture("plain.mp3"), dir / "noextension"));
    EXPECT_TRUE(reader.CanRead(dir / "noextension"));
    EXPECT_FALSE(reader.CanRead(dir / "missing.mp3"));
    EXPECT_FALSE(reader.CanRead(""));
    // A WAVE file with tag 0x0055 is accepted on its tag alone (its data is no MPEG at all).
    ByteWriter wave;
    wave.tag("RIFF").u32(4 + 8 + 30 + 8 + 100).tag("WAVE");
    wave.tag("fmt ").u32(30).u16(0x0055).u16(2).u32(44100).u32(16000).u16(1).u16(0).u16(12);
    wave.u16(1).u32(2).u16(418).u16(1).u16(1393);
    wave.tag("data").u32(100).bytes(std::vector<uint8_t>(100, 0));
    WriteFileBytes(dir / "mpeg.mp3", wave.data());
    EXPECT_TRUE(reader.CanRead(dir / "mpeg.mp3"));
    WriteFileBytes(dir / "pcm.mp3", MakePcmWave(2, 44100, 16, MakeTestSamples16(2, 100)));
    EXPECT_FALSE(reader.CanRead(dir / "pcm.mp3"));
    WriteFileBytes(dir / "zeros.mp3", std::vector<uint8_t>(4096, 0));
    EXPECT_FALSE(reader.CanRead(dir / "zeros.mp3"));
}

TEST_F(MpegFileTest, FileInfoCarriesLayerBitRateFrameTimeAndTag) {
    TMMFileInfo info;
    ASSERT_TRUE(reader.GetFileInfo(Fixture("tagged.mp3"), info));
    EXPECT_EQ(info.Kind, 2u);
    const FfmpegFrames frames = FramesOf(Fixture("tagged.mp3"));
    EXPECT_NEAR(double(info.LengthMs), frames.seconds * 1000.0, 0.5 + 1e-9);
    EXPECT_EQ(info.Info[0], 3u);
    EXPECT_EQ(info.Info[1], 128u);
    double msPerFrame = 0;
    std::memcpy(&msPerFrame, &info.Info[2], sizeof msPerFrame);
    EXPECT_DOUBLE_EQ(msPerFrame, 1152 * 1000.0 / 44100);
    EXPECT_EQ(info.Tag.Title, "Test Title");
    EXPECT_EQ(info.Tag.Artist, "Some Artist");
    EXPECT_EQ(info.Tag.Genre, 17u);
    EXPECT_FALSE(reader.GetFileInfo(ScratchPath("missing.mp3"), info));
}

TEST_F(MpegFileTest, FileInfoWithScanFillsTheVariableBitRateOnce) {
    const std::string copy = ScratchPath("infoscan.mp3");
    ASSERT_TRUE(CopyFileTo(Fixture("vbr48m.mp3"), copy));
    ::DeleteFileA(ScratchPath("infoscan.scn").c_str());
    TMMFileInfo info;
    ASSERT_TRUE(TMMMPEGFile::GetMpegFileInfo(copy, info, false));
    EXPECT_EQ(info.Info[1], 0u);
    ASSERT_TRUE(TMMMPEGFile::GetMpegFileInfo(copy, info, true));
    EXPECT_GT(info.Info[1], 0u);
    EXPECT_TRUE(wc::FileExists(ScratchPath("infoscan.scn")));
}

TEST_F(MpegFileTest, RegistryFindsTheMpegReaderFirst) {
    const auto& types = RegisteredFileTypes();
    ASSERT_GE(types.size(), 2u);
    EXPECT_EQ(types[0].FileClass.ClassName, "TMMMPEGFile");
    EXPECT_EQ(types[0].Priority, 1);
    auto found = CreateFileReader(Fixture("s48.mp2"), &root);
    ASSERT_NE(found, nullptr);
    EXPECT_NE(dynamic_cast<TMMMPEGFile*>(found.get()), nullptr);
    // A plain wave goes to the wave reader.
    TempDir dir("mpegreg");
    WriteFileBytes(dir / "a.wav", MakePcmWave(1, 8000, 8, std::vector<uint8_t>(80, 128)));
    auto wave = CreateFileReader(dir / "a.wav", &root);
    ASSERT_NE(wave, nullptr);
    EXPECT_EQ(dynamic_cast<TMMMPEGFile*>(wave.get()), nullptr);
}

TEST_F(MpegFileTest, ChainDeliversTheDecodedPcmAndItsFormat) {
    TMMMpeg direct;
    direct.SetFileName(Fixture("s48.mp2"));
    const std::vector<int16_t> expected = DecodeAll(direct);
    int changes = 0;
    reader.OnChange = [&](wc::TComponent*) { ++changes; };
    PlayFrom(Fixture("s48.mp2"));
    EXPECT_GE(changes, 1);
    ASSERT_NE(sink.PWaveFormat(), nullptr);
    EXPECT_EQ(sink.PWaveFormat()->nSamplesPerSec, 48000u);
    EXPECT_EQ(sink.PWaveFormat()->nChannels, 2);
    EXPECT_EQ(reader.GetBlockSize(), 4608);
    EXPECT_EQ(reader.Frames(), 125);
    EXPECT_EQ(reader.PlayBackRate(), 48000);
    EXPECT_EQ(ToSamples(sink.PullAll(3000)), expected);
    EXPECT_EQ(reader.Position(), 125);
    reader.Closed();
    EXPECT_FALSE(reader.Mpeg().IsOpened());
}

TEST_F(MpegFileTest, StartedReaderResumesAtTheSavedFrame) {
    reader.SetFileName(Fixture("s48.mp2"));
    reader.SetPosition(100);
    sink.SetInput(&reader);
    reader.Opened();
    reader.Started();
    EXPECT_EQ(reader.Position(), 100);
    EXPECT_EQ(sink.PullAll(4608).size(), size_t(25) * 4608);
}

TEST_F(MpegFileTest, StoppedOrDisabledReaderDeliversSilence) {
    reader.SetFileName(Fixture("s48.mp2"));
    sink.SetInput(&reader);
    reader.Opened();
    std::vector<uint8_t> got;
    bool more = false;
    EXPECT_EQ(sink.PullOnce(64, got, more), 64u) << "opened, not started";
    EXPECT_TRUE(more);
    EXPECT_EQ(got, std::vector<uint8_t>(64, 0));
    reader.Started();
    reader.SetEnabled(false);
    got.clear();
    sink.PullOnce(16, got, more);
    EXPECT_EQ(got, std::vector<uint8_t>(16, 0));
}

TEST_F(MpegFileTest, LoopsAreCountedDownAndMarked) {
    PlayFrom(Fixture("s32.mp2"));
    const int32_t total = reader.Frames() * 1152 * 4;
    WaveHdrEx fields{};
    fields.LoopFlag = LongBoolTrue;
    fields.LoopTotal = 1;
    fields.LoopsLeft = 1;
    std::vector<uint8_t> got;
    bool more = true;
    int marks = 0;
    for (int i = 0; i < 1000 && more; ++i) {
        fields.LoopMark = 0;
        sink.PullOnce(5000, got, more, &fields);
        if (fields.LoopMark) ++marks;
    }
    EXPECT_FALSE(more);
    EXPECT_EQ(marks, 1);
    EXPECT_EQ(fields.LoopsLeft, -1);
    EXPECT_EQ(got.size(), size_t(total) * 2);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + total, got.begin() + total));
}

// A pull that ended exactly on the last sample answered "more data", and the
// next read found nothing: a looped file stopped instead of wrapping.
TEST_F(MpegFileTest, APullEndingOnTheLastSampleWrapsALoopedFile) {
    PlayFrom(Fixture("s32.mp2"));
    const uint32_t total = uint32_t(reader.Frames()) * 1152 * 4;
    WaveHdrEx fields{};
    fields.LoopFlag = LongBoolTrue;
    std::vector<uint8_t> got;
    bool more = false;
    EXPECT_EQ(sink.PullOnce(total, got, more, &fields), total);
    EXPECT_TRUE(more);
    EXPECT_EQ(fields.LoopMark, LongBoolTrue);
    EXPECT_EQ(reader.Position(), 0) << "back at the start";
}

TEST_F(MpegFileTest, EmptyReaderDeliversNothing) {
    sink.SetInput(&reader);
    reader.Opened();
    reader.Started();
    EXPECT_TRUE(sink.PullAll(100).empty());
}

// A library read failure surfaces through OnError.
TEST_F(MpegFileTest, HandledReadErrorGivesFourBytes) {
    PlayFrom(Fixture("s48.mp2"));
    // Close the library's file behind the reader's back: the next read fails.
    MpegLibrary().mpeg_CloseFile(reader.Mpeg().Instance());
    int errors = 0;
    reader.OnError = [&](wc::TComponent* sender, bool& handled) {
        EXPECT_EQ(sender, &reader);
        EXPECT_FALSE(handled);
        ++errors;
        handled = true;
    };
    std::vector<uint8_t> got;
    bool more = false;
    EXPECT_EQ(sink.PullOnce(4608, got, more), 4u);
    EXPECT_FALSE(more);
    EXPECT_EQ(errors, 1);
    reader.OnError = [&](wc::TComponent*, bool&) { ++errors; };
    EXPECT_THROW(sink.PullOnce(4608, got, more), EMMMpegError);
    EXPECT_EQ(errors, 2);
}

TEST_F(MpegFileTest, ChannelModeIsRefusedWhileTheReaderIsOpen) {
    PlayFrom(Fixture("s48.mp2"));
    EXPECT_THROW(reader.SetChannelMode(cmLeft), EMMMpegError);
    EXPECT_EQ(reader.ChannelMode(), cmBoth);
}

TEST_F(MpegFileTest, ChannelModeChangeAnnouncesTheMonoFormatDownstream) {
    // The chain kept the stereo format while the decoder delivered mono.
    reader.SetFileName(Fixture("s48.mp2"));
    sink.SetInput(&reader);
    ASSERT_EQ(sink.PWaveFormat()->nChannels, 2);
    reader.SetChannelMode(cmLeft);
    EXPECT_EQ(reader.Mpeg().PWaveFormat()->nChannels, 1);
    EXPECT_EQ(sink.PWaveFormat()->nChannels, 1);
}

// ---- playback through the real wave output ----

using waveout_tests::CapturePath;

// The 16-bit stereo sample frames that are not both zero.
std::vector<uint8_t> WithoutSilentFrames(const std::vector<uint8_t>& pcm) {
    std::vector<uint8_t> sound;
    sound.reserve(pcm.size());
    for (size_t at = 0; at + 4 <= pcm.size(); at += 4)
        if (pcm[at] | pcm[at + 1] | pcm[at + 2] | pcm[at + 3]) sound.insert(sound.end(), pcm.begin() + at, pcm.begin() + at + 4);
    return sound;
}

class MpegPlaybackTest : public ::testing::TestWithParam<const char*> {};

TEST_P(MpegPlaybackTest, WaveOutputPlaysWhatTheDecoderGives) {
    ASSERT_FALSE(CapturePath().empty()) << "the ALSA default device is not redirected to a file";
    ASSERT_GT(TMMWaveOut::NumDevs(), 0) << "Wine found no wave output device";
    TMMMpeg direct;
    direct.SetFileName(Fixture(GetParam()));
    const std::vector<int16_t> decoded = DecodeAll(direct);
    std::vector<uint8_t> expected(decoded.size() * 2);
    std::memcpy(expected.data(), decoded.data(), expected.size());

    wc::TComponent root{nullptr};
    TMMMPEGFile& reader = wc::MakeComponent<TMMMPEGFile>(root);
    TMMWaveOut& out = wc::MakeComponent<TMMWaveOut>(root);
    reader.SetFileName(Fixture(GetParam()));
    out.SetCallBackMode(cmThread);
    out.SetNumBuffers(4);
    out.SetBufferSize(8192);
    out.SetInput(&reader);
    int stops = 0, errors = 0;
    out.OnStop = [&](wc::TComponent*) { ++stops; };
    out.OnError = [&](wc::TComponent*) { ++errors; };
    ::DeleteFileA(CapturePath().c_str());
    out.Start();
    ASSERT_TRUE(PumpUntil([&] { return stops > 0; }, std::chrono::seconds(30))) << "playback never ended";
    out.Close();
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(out.BytesPlayed(), int64_t(expected.size()));
    // Wine's driver pads an underrun (a busy host) with silence: compare
    // the non-silent sample frames, in order.
    const std::vector<uint8_t> captured = WithoutSilentFrames(ReadFileBytes(CapturePath()));
    const std::vector<uint8_t> sound = WithoutSilentFrames(expected);
    ASSERT_GT(sound.size(), expected.size() / 2);
    EXPECT_NE(std::search(captured.begin(), captured.end(), sound.begin(), sound.end()), captured.end())
        << "captured " << captured.size() << " bytes of sound, decoded " << sound.size();
}

INSTANTIATE_TEST_SUITE_P(Mp3AndMp2, MpegPlaybackTest, ::testing::Values("cbr44s.mp3", "s44.mp2"),
                         [](const auto& info) { return std::string(info.param).substr(0, 6) == "cbr44s" ? "Mp3" : "Mp2"; });

}  // namespace
}  // namespace mpeg_tests
