// The decoder library MMMPEG32.DLL beside the program, through the entry
// points the program binds: real MP3 and MP2 files made by ffmpeg, against
// what ffmpeg reports and decodes, and damaged input.
#include "MpegFixtures.h"
#include "MpegStreamWriter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "framework/Files.h"
#include "media/MMErrors.h"
#include "support/ImportPatch.h"
#include "support/TestSupport.h"

namespace mpeg_tests {
namespace {

using namespace testing_support;

struct Expected {
    const char* name;
    int version;  // TMpegVersion ordinal
    int layer;
    int rate;
    int channels;
    bool variable;
    int samplesPerFrame;
};

class DecoderFileTest : public ::testing::TestWithParam<Expected> {
protected:
    void SetUp() override { ASSERT_TRUE(MpegLibraryAvailable()) << "MMMPEG32.DLL did not load from " << ProgramDir(); }
};

TEST_P(DecoderFileTest, HeaderFieldsFrameCountAndPlayTimeMatchFfmpeg) {
    const Expected e = GetParam();
    const std::string path = Fixture(e.name);
    Instance mpeg;
    ASSERT_EQ(Lib().mpeg_SetFileName(mpeg.get(), path.c_str()), 0) << path;
    EXPECT_FALSE(Lib().mpeg_GetEmpty(mpeg.get()));
    const MpegFileInfo info = InfoOf(mpeg.get());
    EXPECT_EQ(info.Version, e.version);
    EXPECT_EQ(info.Layer, e.layer);
    EXPECT_EQ(info.SampleRate, e.rate);
    EXPECT_EQ(info.Mode == smSingleChannel ? 1 : 2, e.channels);
    if (e.variable)
        EXPECT_EQ(info.BitRate, 0) << "a variable-rate file has no bit rate before a scan";
    else
        EXPECT_GT(info.BitRate, 0);
    EXPECT_DOUBLE_EQ(info.MsPerFrame, e.samplesPerFrame * 1000.0 / e.rate);
    const FfmpegFrames ffmpeg = FramesOf(path);
    EXPECT_EQ(info.Frames, ffmpeg.frames);
    EXPECT_NEAR(info.PlayTime, ffmpeg.seconds * 1000.0, 0.5 + 1e-9);
}

// The encoder's delay and padding (and layer III's decoder delay) trimmed:
// the converter's decoding, sample for sample, with no shift.
TEST_P(DecoderFileTest, DecodedPcmIsTheConvertersDecodingSampleForSample) {
    const Expected e = GetParam();
    const std::string path = Fixture(e.name);
    Instance mpeg;
    ASSERT_EQ(Lib().mpeg_SetFileName(mpeg.get(), path.c_str()), 0);
    const MpegFileInfo info = InfoOf(mpeg.get());
    ASSERT_EQ(Lib().mpeg_OpenFile(mpeg.get()), 0);
    const std::vector<int16_t> ours = ReadToEnd(mpeg.get());
    EXPECT_TRUE(Lib().mpeg_GetDone(mpeg.get()));
    EXPECT_EQ(Lib().mpeg_GetPosition(mpeg.get()), info.Frames);
    const std::vector<int16_t> reference = FfmpegDecode(path);
    ASSERT_FALSE(reference.empty());
    EXPECT_EQ(ours.size(), reference.size());
    int worst = 0;
    for (size_t i = 0; i < std::min(ours.size(), reference.size()); ++i) worst = std::max(worst, std::abs(ours[i] - reference[i]));
    EXPECT_GE(AlignedSnrDb(reference, ours, e.channels, 0), 60.0) << "largest difference " << worst;
}

using SetSampleProc = int32_t(WINAPI*)(void*, uint32_t);

// The system codec's rounding noise depends on how long its stream has run,
// so after a seek its samples may differ from a decode from the start by a
// few steps; a sample off in time differs by hundreds on these tones.
constexpr int kSystemCodecNoise = 4;

// A seek to any sample gives that sample of a decode from the start.
TEST_P(DecoderFileTest, SampleSeeksGiveTheSamplesOfADecodeFromTheStart) {
    const Expected e = GetParam();
    const auto setSample = reinterpret_cast<SetSampleProc>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA(MpegLibraryName), "mpeg_SetSamplePosition")));
    ASSERT_NE(setSample, nullptr);
    Instance mpeg;
    ASSERT_EQ(Lib().mpeg_SetFileName(mpeg.get(), Fixture(e.name).c_str()), 0);
    ASSERT_EQ(Lib().mpeg_OpenFile(mpeg.get()), 0);
    const std::vector<int16_t> whole = ReadToEnd(mpeg.get());
    const uint32_t length = uint32_t(whole.size() / e.channels);
    constexpr uint32_t kRead = 1000;
    for (const uint32_t sample : {0u, 1u, 575u, 1151u, 1152u, 4321u, length / 2 + 7, length - kRead}) {
        SCOPED_TRACE(sample);
        ASSERT_EQ(setSample(mpeg.get(), sample), 0);
        std::vector<int16_t> got(kRead * e.channels);
        ASSERT_EQ(Lib().mpeg_ReadDataBytes(mpeg.get(), got.data(), int32_t(got.size() * 2)), int32_t(got.size() * 2));
        int worst = 0;
        for (size_t i = 0; i < got.size(); ++i) worst = std::max(worst, std::abs(got[i] - whole[size_t(sample) * e.channels + i]));
        EXPECT_LE(worst, kSystemCodecNoise);
    }
    EXPECT_NE(setSample(mpeg.get(), length + 1), 0) << "past the end";
}

INSTANTIATE_TEST_SUITE_P(RealFiles, DecoderFileTest,
                         ::testing::Values(Expected{"cbr44s.mp3", v1, 3, 44100, 2, false, 1152},
                                           Expected{"vbr48m.mp3", v1, 3, 48000, 1, true, 1152},
                                           Expected{"vbr44s.mp3", v1, 3, 44100, 2, true, 1152},
                                           Expected{"cbr32s.mp3", v1, 3, 32000, 2, false, 1152},
                                           Expected{"lsf22s.mp3", v2LSF, 3, 22050, 2, false, 576},
                                           Expected{"s48.mp2", v1, 2, 48000, 2, false, 1152},
                                           Expected{"m44.mp2", v1, 2, 44100, 1, false, 1152},
                                           Expected{"s32.mp2", v1, 2, 32000, 2, false, 1152}),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& c : name)
                                 if (c == '.') c = '_';
                             return name;
                         });

class DecoderLibraryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(MpegLibraryAvailable()); }

    // The status the library gives a file of these bytes, and its text.
    int32_t StatusOf(const std::vector<uint8_t>& bytes, const std::string& name = "bad.mp3") {
        const std::string path = ScratchPath(name);
        WriteFileBytes(path, bytes);
        Instance mpeg;
        const int32_t status = Lib().mpeg_SetFileName(mpeg.get(), path.c_str());
        if (status != 0) {
            EXPECT_TRUE(Lib().mpeg_GetEmpty(mpeg.get()));
            EXPECT_FALSE(MpegErrorText(status).empty()) << status;
        }
        return status;
    }
};

TEST_F(DecoderLibraryTest, AnswersVersion25) { EXPECT_EQ(Lib().mpeg_Version(), 25); }

TEST_F(DecoderLibraryTest, BothSystemDecodersAreThere) {
    // Layer III goes through format tag 0x0055, layers I and II through 0x0050.
    for (const char* name : {"plain.mp3", "s48.mp2"}) {
        Instance mpeg;
        ASSERT_EQ(Lib().mpeg_SetFileName(mpeg.get(), Fixture(name).c_str()), 0);
        const int32_t status = Lib().mpeg_OpenFile(mpeg.get());
        EXPECT_EQ(status, 0) << name << ": " << MpegErrorText(status);
    }
}

TEST_F(DecoderLibraryTest, Id3v1TagIsFoundAtTheEnd) {
    Instance mpeg;
    ASSERT_EQ(Lib().mpeg_SetFileName(mpeg.get(), Fixture("tagged.mp3").c_str()), 0);
    uint8_t block[128] = {};
    ASSERT_TRUE(Lib().mpeg_ReadID3Tag(mpeg.get(), block));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block), 3), "TAG");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block) + 3, 10), "Test Title");
    EXPECT_EQ(block[127], 17) << "genre Rock";
    const MpegFileInfo info = InfoOf(mpeg.get());
    EXPECT_EQ(std::memcmp(info.Tag, block, 128), 0);
    // The tag is not audio: the frame count stays ffmpeg's.
    EXPECT_EQ(info.Frames, FramesOf(Fixture("tagged.mp3")).frames);
}

TEST_F(DecoderLibraryTest, FileWithoutId3v1HasNoTagBlock) {
    Instance mpeg;
    ASSERT_EQ(Lib().mpeg_SetFileName(mpeg.get(), Fixture("id3v2.mp3").c_str()), 0);
    uint8_t block[128] = {};
    EXPECT_FALSE(Lib().mpeg_ReadID3Tag(mpeg.get(), block));
    const MpegFileInfo info = InfoOf(mpeg.get());
    EXPECT_EQ(info.Tag[0], 0);
    EXPECT_EQ(info.Frames, FramesOf(Fixture("id3v2.mp3")).frames);
}

TEST_F(DecoderLibraryTest, GarbageBetweenFramesIsSkipped) {
    // The frames of a file with no tag, with junk (and a false sync) put between frames.
    const auto original = ReadFileBytes(Fixture("plain.mp3"));
    Instance clean;
    ASSERT_EQ(Lib().mpeg_SetFileName(clean.get(), Fixture("plain.mp3").c_str()), 0);
    const int32_t frames = InfoOf(clean.get()).Frames;
    ASSERT_EQ(Lib().mpeg_OpenFile(clean.get()), 0);
    const auto cleanPcm = ReadToEnd(clean.get());
    // 128 kbit/s at 44.1 kHz: frames of 417 or 418 bytes; cut after the tenth frame's header walk.
    std::vector<uint8_t> damaged;
    size_t at = 0;
    int cut = 0;
    while (at + 4 <= original.size()) {
        const bool padded = (original[at + 2] >> 1) & 1;
        const size_t size = 417 + (padded ? 1 : 0);
        damaged.insert(damaged.end(), original.begin() + at, original.begin() + std::min(at + size, original.size()));
        at += size;
        if (++cut % 10 == 0) {
            const std::vector<uint8_t> junk = {0xFF, 0xFB, 0x00, 0x13, 0x37, 'j', 'u', 'n', 'k', 0xFF, 0xE0};
            damaged.insert(damaged.end(), junk.begin(), junk.end());
        }
    }
    EXPECT_EQ(StatusOf(damaged, "garbage.mp3"), 0);
    Instance mpeg;
    ASSERT_EQ(Lib().mpeg_SetFileName(mpeg.get(), ScratchPath("garbage.mp3").c_str()), 0);
    EXPECT_EQ(InfoOf(mpeg.get()).Frames, frames);
    ASSERT_EQ(Lib().mpeg_OpenFile(mpeg.get()), 0);
    EXPECT_EQ(ReadToEnd(mpeg.get()), cleanPcm);
}

// Free format, written (the converter makes none): every frame indexed, its
// rate told, and decoded, from the start and after a seek, as the same
// frames headed with an indexed rate.
TEST_F(DecoderLibraryTest, FreeFormatFileDecodesAsItsFramesAtAnIndexedRate) {
    // MPEG-1 layer III, 44.1 kHz, 256 kbit/s: 835 bytes a frame, 836 padded.
    const StreamRecipe recipe{3, 1, 0, 1, 2, false, 41, 60, 256};
    const std::string freePath = ScratchPath("free.mp3"), indexedPath = ScratchPath("indexed.mp3");
    WriteFileBytes(freePath, WriteStream(recipe));
    WriteFileBytes(indexedPath, WriteIndexedTwin(recipe));
    Instance free, indexed;
    ASSERT_EQ(Lib().mpeg_SetFileName(free.get(), freePath.c_str()), 0);
    ASSERT_EQ(Lib().mpeg_SetFileName(indexed.get(), indexedPath.c_str()), 0);
    const MpegFileInfo info = InfoOf(free.get());
    EXPECT_EQ(info.Frames, 60);
    EXPECT_EQ(info.BitRate, 256);  // 835 * 8 bits * 44100 / 1152 samples = 255.7 kbit/s
    ASSERT_EQ(Lib().mpeg_OpenFile(free.get()), 0);
    ASSERT_EQ(Lib().mpeg_OpenFile(indexed.get()), 0);
    EXPECT_EQ(ReadToEnd(free.get()), ReadToEnd(indexed.get()));
    ASSERT_EQ(Lib().mpeg_SetPosition(free.get(), 37), 0);
    ASSERT_EQ(Lib().mpeg_SetPosition(indexed.get(), 37), 0);
    EXPECT_EQ(ReadToEnd(free.get()), ReadToEnd(indexed.get()));
}

using ReadFileProc = BOOL(WINAPI*)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
ReadFileProc realReadFile = nullptr;
uint64_t bytesRead = 0;

BOOL WINAPI CountingReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD got, LPOVERLAPPED overlapped) {
    const BOOL ok = realReadFile(file, buffer, count, got, overlapped);
    if (ok && got) bytesRead += *got;
    return ok;
}

// A large file is read in pieces: setting it and asking its information
// read little of it, and a whole decode reads it about once.
TEST_F(DecoderLibraryTest, ALargeFileIsReadInPieces) {
    // 40 copies of a 48 kHz, 192 kbit/s layer II file: frames of 576 bytes
    // each (144 * 192000 / 48000, never padded).
    const auto one = ReadFileBytes(Fixture("s48.mp2"));
    const int framesOfOne = FramesOf(Fixture("s48.mp2")).frames;
    ASSERT_EQ(one.size(), size_t(framesOfOne) * 576);
    std::vector<uint8_t> large;
    for (int i = 0; i < 40; ++i) large.insert(large.end(), one.begin(), one.end());
    WriteFileBytes(ScratchPath("large.mp2"), large);
    ImportPatch patch("kernel32.dll", "ReadFile", reinterpret_cast<void*>(&CountingReadFile), ::GetModuleHandleA(MpegLibraryName));
    ASSERT_TRUE(patch.active());
    realReadFile = patch.original<ReadFileProc>();
    bytesRead = 0;
    Instance mpeg;
    ASSERT_EQ(Lib().mpeg_SetFileName(mpeg.get(), ScratchPath("large.mp2").c_str()), 0);
    EXPECT_EQ(InfoOf(mpeg.get()).Frames, 40 * framesOfOne);
    EXPECT_LE(bytesRead, 256u * 1024) << "of " << large.size();
    ASSERT_EQ(Lib().mpeg_OpenFile(mpeg.get()), 0);
    EXPECT_EQ(ReadToEnd(mpeg.get(), 65536).size(), size_t(40) * framesOfOne * 1152 * 2);
    EXPECT_LE(bytesRead, 2 * large.size() + 256 * 1024);
    EXPECT_EQ(InfoOf(mpeg.get()).Frames, 40 * framesOfOne) << "counted to the end";
}

TEST_F(DecoderLibraryTest, BadFilesGiveAStatusWithItsText) {
    EXPECT_EQ(StatusOf({}), 5) << "a 0-byte file";
    EXPECT_EQ(StatusOf(std::vector<uint8_t>(100000, 0)), 5) << "a file of zeros";
    std::mt19937 random(42);
    std::vector<uint8_t> noise(200000);
    for (auto& b : noise) b = uint8_t(random());
    EXPECT_NE(StatusOf(noise), 0) << "random bytes";
    // An ID3v2 tag whose size reaches past the file.
    std::vector<uint8_t> id3 = {'I', 'D', '3', 3, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F};
    const auto frames = ReadFileBytes(Fixture("plain.mp3"));
    id3.insert(id3.end(), frames.begin(), frames.end());
    EXPECT_EQ(StatusOf(id3), 8);
    EXPECT_EQ(MpegErrorText(8), "ID3v2 tag size points past the end of the file");
    // Frame headers with a reserved bit rate (index 15) or sample rate (3), then free format (0)
    // 1200 bytes apart: 368 kbit/s at 44.1 kHz, above layer III's highest rate (320).
    std::vector<uint8_t> reserved;
    for (int i = 0; i < 50; ++i) reserved.insert(reserved.end(), {0xFF, 0xFB, 0xF0, 0x44, 1, 2, 3, 4});
    EXPECT_EQ(StatusOf(reserved), 7);
    std::vector<uint8_t> reservedRate;
    for (int i = 0; i < 50; ++i) reservedRate.insert(reservedRate.end(), {0xFF, 0xFB, 0x9C, 0x44, 1, 2, 3, 4});
    EXPECT_EQ(StatusOf(reservedRate), 7);
    std::vector<uint8_t> freeFormat;
    for (int i = 0; i < 50; ++i) {
        freeFormat.insert(freeFormat.end(), {0xFF, 0xFB, 0x00, 0x44});
        freeFormat.resize(freeFormat.size() + 1196, 0);
    }
    EXPECT_EQ(StatusOf(freeFormat), 6);
    EXPECT_EQ(MpegErrorText(6), "Free format bit rate is not supported");
    // A WAVE file with format tag 0x0055 and no frames in its data.
    ByteWriter wave;
    wave.tag("RIFF").u32(4 + 8 + 30 + 8 + 1000).tag("WAVE");
    wave.tag("fmt ").u32(30).u16(0x0055).u16(2).u32(44100).u32(16000).u16(1).u16(0).u16(12);
    wave.u16(1).u32(2).u16(418).u16(1).u16(1393);
    wave.tag("data").u32(1000).bytes(std::vector<uint8_t>(1000, 0x11));
    EXPECT_EQ(StatusOf(wave.data(), "nompeg.wav"), 5);
    // A missing file.
    Instance mpeg;
    EXPECT_EQ(Lib().mpeg_SetFileName(mpeg.get(), ScratchPath("missing.mp3").c_str()), 3);
}

TEST_F(DecoderLibraryTest, MpegInsideAWaveFilePlaysItsDataChunk) {
    const auto frames = ReadFileBytes(Fixture("plain.mp3"));
    ByteWriter wave;
    wave.tag("RIFF").u32(uint32_t(4 + 8 + 30 + 8 + frames.size())).tag("WAVE");
    wave.tag("fmt ").u32(30).u16(0x0055).u16(2).u32(44100).u32(16000).u16(1).u16(0).u16(12);
    wave.u16(1).u32(2).u16(418).u16(1).u16(1393);
    wave.tag("data").u32(uint32_t(frames.size())).bytes(frames);
    WriteFileBytes(ScratchPath("inwave.wav"), wave.data());
    Instance plain, wrapped;
    ASSERT_EQ(Lib().mpeg_SetFileName(plain.get(), Fixture("plain.mp3").c_str()), 0);
    ASSERT_EQ(Lib().mpeg_SetFileName(wrapped.get(), ScratchPath("inwave.wav").c_str()), 0);
    EXPECT_EQ(InfoOf(wrapped.get()).Frames, InfoOf(plain.get()).Frames);
}

TEST_F(DecoderLibraryTest, ReadingPastTheEndAndWithoutOpeningIsRefusedCleanly) {
    Instance mpeg;
    uint8_t buffer[64];
    EXPECT_LT(Lib().mpeg_ReadDataBytes(mpeg.get(), buffer, sizeof buffer), 0) << "no file";
    ASSERT_EQ(Lib().mpeg_SetFileName(mpeg.get(), Fixture("plain.mp3").c_str()), 0);
    EXPECT_EQ(Lib().mpeg_ReadDataBytes(mpeg.get(), buffer, sizeof buffer), -12) << "not open";
    ASSERT_EQ(Lib().mpeg_OpenFile(mpeg.get()), 0);
    // A request smaller than one sample frame gives nothing, never a partial sample.
    EXPECT_EQ(Lib().mpeg_ReadDataBytes(mpeg.get(), buffer, 3), 0);
    ReadToEnd(mpeg.get());
    EXPECT_EQ(Lib().mpeg_ReadDataBytes(mpeg.get(), buffer, sizeof buffer), 0);
    EXPECT_TRUE(Lib().mpeg_GetDone(mpeg.get()));
    EXPECT_NE(Lib().mpeg_SetPosition(mpeg.get(), 100000), 0);
    EXPECT_NE(Lib().mpeg_SetPosition(mpeg.get(), -1), 0);
    EXPECT_EQ(Lib().mpeg_GetEmpty(nullptr), TRUE) << "an unknown handle";
    EXPECT_EQ(Lib().mpeg_SetFileName(nullptr, "x"), 1);
}

TEST_F(DecoderLibraryTest, ScanGivesTheAverageBitRateAndWritesTheScanFile) {
    const std::string copy = ScratchPath("scanned.mp3");
    ASSERT_TRUE(CopyFileTo(Fixture("vbr44s.mp3"), copy));
    const std::string scn = ScratchPath("scanned.scn");
    ::DeleteFileA(scn.c_str());
    Instance mpeg;
    ASSERT_EQ(Lib().mpeg_SetFileName(mpeg.get(), copy.c_str()), 0);
    ASSERT_EQ(InfoOf(mpeg.get()).BitRate, 0);
    ASSERT_EQ(Lib().mpeg_ScanFile(mpeg.get(), 1, 0, 0), 0);
    const MpegFileInfo info = InfoOf(mpeg.get());
    // The average over the audio frames: the file's bytes after its ID3v2
    // tag over ffmpeg's play time (the Info frame adds under 1 kbit/s).
    const auto bytes = ReadFileBytes(copy);
    ASSERT_GT(bytes.size(), 10u);
    ASSERT_EQ(std::string(bytes.begin(), bytes.begin() + 3), "ID3");
    const size_t tag = 10 + (size_t(bytes[6]) << 21 | size_t(bytes[7]) << 14 | size_t(bytes[8]) << 7 | bytes[9]);
    const double seconds = FramesOf(copy).seconds;
    ASSERT_GT(seconds, 0);
    EXPECT_NEAR(info.BitRate, double(bytes.size() - tag) * 8 / seconds / 1000, 3.0);
    EXPECT_TRUE(wc::FileExists(scn));
    // A new instance takes the rate from the scan file.
    Instance again;
    ASSERT_EQ(Lib().mpeg_SetFileName(again.get(), copy.c_str()), 0);
    EXPECT_EQ(InfoOf(again.get()).BitRate, info.BitRate);
}

// A keystream XOR: the same routine encrypts and decrypts.
void WINAPI XorStream(uint32_t key, uint32_t offset, uint8_t* data, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) data[i] ^= uint8_t((offset + i) * 131u + key);
}

TEST_F(DecoderLibraryTest, EncryptedFileDecryptsBackToTheSameSamples) {
    Instance plain;
    ASSERT_EQ(Lib().mpeg_SetFileName(plain.get(), Fixture("plain.mp3").c_str()), 0);
    ASSERT_EQ(Lib().mpeg_SetDecryptCallback(plain.get(), XorStream, 77), 0);
    const std::string encrypted = ScratchPath("secret.mp3");
    ASSERT_EQ(Lib().mpeg_EncryptFile(plain.get(), encrypted.c_str(), 0, 0, 0), 0);
    ASSERT_EQ(Lib().mpeg_OpenFile(plain.get()), 0);
    const auto expected = ReadToEnd(plain.get());
    EXPECT_NE(ReadFileBytes(encrypted), ReadFileBytes(Fixture("plain.mp3")));
    {
        Instance locked;
        EXPECT_NE(Lib().mpeg_SetFileName(locked.get(), encrypted.c_str()), 0) << "no frames without the key";
    }
    Instance mpeg;
    ASSERT_EQ(Lib().mpeg_SetDecryptCallback(mpeg.get(), XorStream, 77), 0);
    ASSERT_EQ(Lib().mpeg_SetDecryptMode(mpeg.get(), 1), 0);
    ASSERT_EQ(Lib().mpeg_SetFileName(mpeg.get(), encrypted.c_str()), 0);
    ASSERT_EQ(Lib().mpeg_OpenFile(mpeg.get()), 0);
    EXPECT_EQ(ReadToEnd(mpeg.get()), expected);
    Instance keyless;
    ASSERT_EQ(Lib().mpeg_SetDecryptMode(keyless.get(), 1), 0);
    EXPECT_EQ(Lib().mpeg_SetFileName(keyless.get(), encrypted.c_str()), 17) << "decrypt mode without a callback";
}

}  // namespace
}  // namespace mpeg_tests
