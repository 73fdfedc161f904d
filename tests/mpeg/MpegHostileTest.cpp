// The decoder library MMMPEG32.DLL under hostile files and careless callers,
// each case with the file or the call that showed the fault:
// the free-format search's cost, tiny free-format frames, the frame
// index's size, calls from another thread during a read, a frame that no
// longer decodes, information-frame counts, and the gapless padding of cut
// and joined files.
#include "MpegFixtures.h"
#include "MpegStreamWriter.h"

#include <algorithm>
#include <functional>
#include <random>
#include <thread>

#include "framework/Handles.h"
#include "mpegdec/MpegStream.h"
#include "support/TestSupport.h"

namespace mpeg_tests {
namespace {

using namespace testing_support;

// `count` frames of `header`, `size` bytes each, zero after the header:
// layer II and III frames of zeros allocate nothing and decode to silence.
std::vector<uint8_t> Frames(std::vector<uint8_t> header, size_t size, size_t count) {
    header.resize(size, 0);
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < count; ++i) bytes.insert(bytes.end(), header.begin(), header.end());
    return bytes;
}

// MPEG-1 layer III, 128 kbit/s, 48 kHz, joint stereo: 384-byte frames
// (144 * 128000 / 48000), never padded.
const std::vector<uint8_t> kL3at48 = {0xFF, 0xFB, 0x94, 0x44};

// A frame of kL3at48 holding an "Info" header (after the 32 bytes of side
// information) that counts `frames` frames.
std::vector<uint8_t> InfoFrame(uint32_t frames) {
    std::vector<uint8_t> frame = Frames(kL3at48, 384, 1);
    const uint8_t tag[] = {'I', 'n', 'f', 'o', 0, 0, 0, 1, uint8_t(frames >> 24), uint8_t(frames >> 16), uint8_t(frames >> 8), uint8_t(frames)};
    std::copy(std::begin(tag), std::end(tag), frame.begin() + 36);
    return frame;
}

class HostileFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(MpegLibraryAvailable()); }

    // Writes `bytes` as a scratch file and sets it on `mpeg`: the status.
    static int32_t Set(Instance& mpeg, const std::string& name, const std::vector<uint8_t>& bytes) {
        WriteFileBytes(ScratchPath(name), bytes);
        return Lib().mpeg_SetFileName(mpeg.get(), ScratchPath(name).c_str());
    }
    // The file's decoding, from frame `frame` on (set while closed).
    static std::vector<int16_t> DecodeFrom(const std::string& path, int32_t frame = 0) {
        Instance mpeg;
        EXPECT_EQ(Lib().mpeg_SetFileName(mpeg.get(), path.c_str()), 0) << path;
        EXPECT_EQ(Lib().mpeg_SetPosition(mpeg.get(), frame), 0);
        EXPECT_EQ(Lib().mpeg_OpenFile(mpeg.get()), 0);
        return ReadToEnd(mpeg.get());
    }
};

// Searches made while indexing the whole of `bytes`; `frames` gets the count.
int SearchesIndexing(const std::vector<uint8_t>& bytes, size_t& frames) {
    mpegdec::MemorySource file(bytes);
    mpegdec::StreamLayout layout;
    EXPECT_EQ(mpegdec::FindLayout(file, 0, 0, layout), mpegdec::LayoutResult::Ok);
    mpegdec::FrameIndex index;
    index.Reset(layout);
    EXPECT_TRUE(index.Extend(file, SIZE_MAX));
    frames = index.Count();
    return index.FreeFormatSearches();
}

// Two frames, then free-format headers of every version, layer and sample
// rate in a random order, 4 bytes apart, up to 1 MiB. None can join the
// stream found first, yet each one's length search parsed up to 2,880
// headers: 1.2 s a MiB, and mpeg_SetFileName indexes an audio area of 1 MiB
// at once.
TEST_F(HostileFileTest, FreeFormatHeadersAfterTheStreamAreNotSearched) {
    std::vector<uint8_t> bytes = Frames(kL3at48, 384, 2);
    std::mt19937 random(39);
    const uint8_t versions[] = {0x00, 0x10, 0x18};
    while (bytes.size() + 4 <= 1024 * 1024) {
        const uint32_t pick = random();
        bytes.insert(bytes.end(), {0xFF, uint8_t(0xE1 | versions[pick % 3] | (1 + pick / 3 % 3) << 1), uint8_t(pick / 9 % 3 << 2), 0xC4});
    }
    size_t frames = 0;
    EXPECT_EQ(SearchesIndexing(bytes, frames), 0);
    EXPECT_EQ(frames, 2u);
    Instance mpeg;
    ASSERT_EQ(Set(mpeg, "freesoup.mp3", bytes), 0);
    EXPECT_EQ(InfoOf(mpeg.get()).Frames, 2);
}

// 100 free-format headers of one stream, no three of them evenly spaced (at
// 384 bytes times the numbers whose digits in base 3 are 0 or 1), then
// silence: no search can confirm a length, and only the first 64 are made.
TEST(FreeFormatSearch, IsBoundedBeforeAStreamIsFound) {
    const uint8_t header[] = {0xFF, 0xFB, 0x04, 0x44};  // MPEG-1 layer III at 48 kHz, free format
    std::vector<uint8_t> bytes;
    for (uint32_t n = 0; n < 100; ++n) {
        size_t at = 0;
        for (uint32_t rest = n, power = 1; rest; rest >>= 1, power *= 3) at += (rest & 1) * power;
        bytes.resize(at * 384 + 4);
        std::copy(std::begin(header), std::end(header), bytes.end() - 4);
    }
    bytes.resize(bytes.size() + 64 * 1024);
    size_t frames = 0;
    EXPECT_EQ(SearchesIndexing(bytes, frames), 64);
    EXPECT_EQ(frames, 0u);
}

struct TinyCase {
    const char* name;
    std::vector<uint8_t> header;  // free format (bit-rate index 0), mono
    size_t fileBytes;
    int32_t mostFrames;           // the file's bytes over the lowest rate's frame
    int32_t leastKbps;            // the lowest indexed rate
};
void PrintTo(const TinyCase& c, std::ostream* os) { *os << c.name; }

// Frames of 5 bytes, header and one byte, 1152 samples each: 460 times
// their bytes in samples, and at 8 kHz a rate that rounded to 0 kbit/s
// (5 * 8 * 8000 / 1152 bits a millisecond), by which the frame count of a
// file over 1 MiB (indexed as it is read) was divided. A free-format frame
// is now no shorter than one at the lowest indexed rate (layer II at
// 48 kHz: 144 * 32000 / 48000 = 96 bytes; at 8 kHz: 144 * 8000 / 8000 =
// 144), so these headers are garbage within longer frames.
const TinyCase kTiny[] = {
    {"layer2_48k", {0xFF, 0xFD, 0x04, 0xC0}, 100000, 100000 / 96, 32},   // MPEG-1 layer II, 48 kHz
    {"mpeg25_8k", {0xFF, 0xE5, 0x08, 0xC0}, 1200000, 1200000 / 144, 8},  // MPEG-2.5 layer II, 8 kHz
};

class TinyFrameTest : public HostileFileTest, public ::testing::WithParamInterface<TinyCase> {};

TEST_P(TinyFrameTest, FreeFormatFramesAreNoShorterThanAtTheLowestRate) {
    const TinyCase& c = GetParam();
    Instance mpeg;
    ASSERT_EQ(Set(mpeg, std::string(c.name) + ".mp2", Frames(c.header, 5, c.fileBytes / 5)), 0);
    const MpegFileInfo info = InfoOf(mpeg.get());
    EXPECT_LE(info.Frames, c.mostFrames);
    EXPECT_GE(info.BitRate, c.leastKbps);
}

INSTANTIATE_TEST_SUITE_P(Cases, TinyFrameTest, ::testing::ValuesIn(kTiny), [](const auto& info) { return std::string(info.param.name); });

// The committed private memory of this process (its heaps among it).
size_t PrivateBytes() {
    size_t bytes = 0;
    MEMORY_BASIC_INFORMATION region{};
    for (const char* at = nullptr; ::VirtualQuery(at, &region, sizeof region) == sizeof region; at = static_cast<const char*>(region.BaseAddress) + region.RegionSize)
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) bytes += region.RegionSize;
    return bytes;
}

// The smallest frames there are, MPEG-2 layer III at 8 kbit/s and 24 kHz
// (72 * 8000 / 24000 = 24 bytes), 16 MiB of them: 699,050 frames, which an
// index of 10 bytes a frame kept in 7 MB (and a 2 GB file in 900 MB, more
// than a 32-bit process has to spare).
TEST_F(HostileFileTest, TheFrameIndexOfTheSmallestFramesStaysSmall) {
    Instance mpeg;
    ASSERT_EQ(Set(mpeg, "smallest.mp3", Frames({0xFF, 0xF3, 0x14, 0xC0}, 24, (16 << 20) / 24)), 0);
    const size_t before = PrivateBytes();
    ASSERT_EQ(Lib().mpeg_ScanFile(mpeg.get(), 0, 0, 0), 0);
    EXPECT_EQ(InfoOf(mpeg.get()).Frames, 699050);
    // Two bytes a frame and eight every 32 frames (and a vector's spare room): 2.3 MB at most.
    EXPECT_LT(PrivateBytes() - before, size_t(4) << 20);
}

struct InfoCountCase {
    const char* name;
    uint32_t counted;   // by the Info frame before 3000 frames of 384 bytes (1.1 MiB, indexed as read)
    int32_t frames;     // mpeg_GetFileInfo's
    int32_t playTime;   // ms: 24 a frame (1152 / 48000 s)
    int32_t seekTo;     // a frame of the file that a seek reaches
};
void PrintTo(const InfoCountCase& c, std::ostream* os) { *os << c.name; }

// A count of 0x7FFFFFFF frames overflowed the play time's 32-bit long
// (2^31 * 24 ms) and stood for the file's count; a count too low refused
// seeks past it until a scan.
const InfoCountCase kInfoCounts[] = {
    {"beyond_the_file", 0x7FFFFFFF, 3000, 72000, 2999},  // more than 1.1 MiB holds of 96-byte frames: the size's count
    {"below_the_file", 100, 100, 2400, 2000},
};

class InfoCountTest : public HostileFileTest, public ::testing::WithParamInterface<InfoCountCase> {};

TEST_P(InfoCountTest, CountsAreCheckedAndExtendedBeforeASeekIsRefused) {
    const InfoCountCase& c = GetParam();
    std::vector<uint8_t> bytes = InfoFrame(c.counted);
    const std::vector<uint8_t> frames = Frames(kL3at48, 384, 3000);
    bytes.insert(bytes.end(), frames.begin(), frames.end());
    Instance mpeg;
    ASSERT_EQ(Set(mpeg, std::string(c.name) + ".mp3", bytes), 0);
    const MpegFileInfo info = InfoOf(mpeg.get());
    EXPECT_EQ(info.Frames, c.frames);
    EXPECT_EQ(info.PlayTime, c.playTime);
    EXPECT_EQ(Lib().mpeg_SetPosition(mpeg.get(), c.seekTo), 0);
    ASSERT_EQ(Lib().mpeg_OpenFile(mpeg.get()), 0);
    EXPECT_EQ(Lib().mpeg_GetPosition(mpeg.get()), c.seekTo);
    EXPECT_EQ(ReadToEnd(mpeg.get()).size(), size_t(3000 - c.seekTo) * 1152 * 2);
    EXPECT_EQ(InfoOf(mpeg.get()).Frames, 3000) << "read to its end";
}

INSTANTIATE_TEST_SUITE_P(Cases, InfoCountTest, ::testing::ValuesIn(kInfoCounts), [](const auto& info) { return std::string(info.param.name); });

// s48.mp2 as it was when set: its 576-byte frames were indexed; then the
// header of frame 5 is overwritten (the file is shared for writing). The
// decoder gave a frame of silence and dropped the rest of its 32-frame
// batch: frames 5 to 31 came out silent, and what follows shifted.
TEST_F(HostileFileTest, AFrameThatNoLongerDecodesSilencesItselfOnly) {
    const std::string path = ScratchPath("broken.mp2");
    ASSERT_TRUE(CopyFileTo(Fixture("s48.mp2"), path));
    const std::vector<int16_t> whole = DecodeFrom(path);
    Instance mpeg;
    ASSERT_EQ(Lib().mpeg_SetFileName(mpeg.get(), path.c_str()), 0);
    {
        wc::FileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file);
        const uint8_t zeros[4] = {};
        DWORD put = 0;
        ASSERT_NE(::SetFilePointer(file.get(), 5 * 576, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
        ASSERT_TRUE(::WriteFile(file.get(), zeros, sizeof zeros, &put, nullptr));
    }
    ASSERT_EQ(Lib().mpeg_OpenFile(mpeg.get()), 0);
    const std::vector<int16_t> got = ReadToEnd(mpeg.get());
    ASSERT_EQ(got.size(), whole.size());
    constexpr size_t kFrame = 1152 * 2;
    EXPECT_TRUE(std::all_of(got.begin() + 5 * kFrame, got.begin() + 6 * kFrame, [](int16_t s) { return s == 0; }));
    // Frame 6 starts from the filter bank of frame 4; from frame 7 on all is as before.
    EXPECT_TRUE(std::equal(got.begin() + 7 * kFrame, got.end(), whole.begin() + 7 * kFrame));
}

// A free-format layer I stream (44.1 kHz, 400 kbit/s: 432-byte frames, 436
// padded) whose frame 12 holds two false headers of the stream, 64 and 128
// bytes in. A seek to frame 14 decodes from frame 12 on, and the decoder
// looked for the frame length again there, found 64 and lost the frames
// that followed; the frame index's length, found at frame 0, is 432.
TEST_F(HostileFileTest, AFreeFormatStreamKeepsItsIndexedLengthAfterASeek) {
    std::vector<uint8_t> stream = WriteStream({1, 1, 0, 1, 0, true, 25, 40, 400});
    size_t frame12 = 0;
    for (int i = 0; i < 12; ++i) frame12 += (stream[frame12 + 2] & 2) ? 436 : 432;
    ASSERT_EQ(stream[frame12 + 2] & 2, 0) << "frame 12 is not padded";
    for (size_t at : {frame12 + 64, frame12 + 128}) std::copy_n(stream.begin() + std::ptrdiff_t(frame12), 4, stream.begin() + std::ptrdiff_t(at));
    const std::string path = ScratchPath("freeseek.mp1");
    WriteFileBytes(path, stream);
    const std::vector<int16_t> whole = DecodeFrom(path);
    ASSERT_EQ(whole.size(), size_t(40) * 384 * 2);
    EXPECT_EQ(DecodeFrom(path, 14), std::vector<int16_t>(whole.begin() + 14 * 384 * 2, whole.end()));
}

struct JoinCase {
    const char* name;
    std::function<std::vector<uint8_t>(const std::vector<uint8_t>&)> make;  // from plain.mp3
    size_t samples;  // sample frames
};
void PrintTo(const JoinCase& c, std::ostream* os) { *os << c.name; }

// plain.mp3: an Info frame (for a file of its size) counting 40 frames of
// 1152 samples, with 576 samples of encoder delay and 1404 of padding; the
// stream is the decoder's output less 576 + 529 at the start (layer III's
// decoder delay counted) and the padding less 529 before the counted end:
// 46080 - 1105 - 875 = 44100. The padding was cut at the file's real end
// instead, where a cut or joined file has real audio. The converter cuts
// it where the count ends, and only when the file is not more than a 16th
// larger than the Info frame says (a joined file's count is the first
// part's).
const JoinCase kJoins[] = {
    // The last three frames cut: 37 frames, no padding left: 37 * 1152 - 1105.
    {"cut",
     [](const std::vector<uint8_t>& one) {
         size_t end = 0;  // after the Info frame and 37 frames of 417 bytes, 418 padded
         for (int frame = 0; frame < 38; ++frame) end += one[end + 2] & 2 ? 418 : 417;
         return std::vector<uint8_t>(one.begin(), one.begin() + std::ptrdiff_t(end));
     },
     41519},
    // Twice over: 81 frames (the second Info frame decodes as silence), no
    // padding cut: 81 * 1152 - 1105.
    {"joined",
     [](const std::vector<uint8_t>& one) {
         std::vector<uint8_t> two = one;
         two.insert(two.end(), one.begin(), one.end());
         return two;
     },
     92207},
};

class JoinTest : public HostileFileTest, public ::testing::WithParamInterface<JoinCase> {};

TEST_P(JoinTest, ThePaddingIsCutWhereTheInfoFramesCountEnds) {
    const std::string path = ScratchPath(std::string(GetParam().name) + ".mp3");
    WriteFileBytes(path, GetParam().make(ReadFileBytes(Fixture("plain.mp3"))));
    const std::vector<int16_t> ours = DecodeFrom(path), reference = FfmpegDecode(path);
    EXPECT_EQ(ours.size(), GetParam().samples * 2);
    EXPECT_EQ(reference.size(), GetParam().samples * 2);
    EXPECT_GE(AlignedSnrDb(reference, ours, 2, 0), 60.0);
}

INSTANTIATE_TEST_SUITE_P(Cases, JoinTest, ::testing::ValuesIn(kJoins), [](const auto& info) { return std::string(info.param.name); });

// Another thread's call while a read is in progress: the decrypt callback
// (decrypt mode on, bytes left as they are) runs it when the read first
// loads bytes of the file, and waits for it.
std::function<void()> duringRead;

void WINAPI RunDuringRead(uint32_t, uint32_t, uint8_t*, uint32_t) {
    if (!duringRead) return;
    std::thread other(std::exchange(duringRead, nullptr));
    other.join();
}

class DuringReadTest : public HostileFileTest {
protected:
    // s48.mp2 set on `mpeg` with the callback, and opened; `call` runs on
    // another thread during the next read.
    void OpenWith(Instance& mpeg, std::function<void()> call) {
        ASSERT_EQ(Lib().mpeg_SetDecryptCallback(mpeg.get(), RunDuringRead, 0), 0);
        ASSERT_EQ(Lib().mpeg_SetDecryptMode(mpeg.get(), 1), 0);
        ASSERT_EQ(Lib().mpeg_SetFileName(mpeg.get(), Fixture("s48.mp2").c_str()), 0);
        ASSERT_EQ(Lib().mpeg_OpenFile(mpeg.get()), 0);
        duringRead = std::move(call);
    }
    static constexpr int32_t kReadBytes = 20 * 1152 * 4;
};

struct DuringReadCase {
    const char* name;
    std::function<int32_t(void*)> call;
    int32_t status;  // its answer
    bool whole;      // the read in progress returns all it was asked for
};
void PrintTo(const DuringReadCase& c, std::ostream* os) { *os << c.name; }

// Two threads on one instance corrupted its state: a seek or a read from
// the second reset or took the fifo and frame counter the first was using.
// Now a second call while one is in progress is answered 22 (in use); an
// abort, which is meant for that, ends the read in progress, and the next
// read goes on where it stopped.
const DuringReadCase kDuringRead[] = {
    {"SetPosition", [](void* h) { return Lib().mpeg_SetPosition(h, 30); }, 22, true},
    {"ReadDataBytes", [](void* h) { uint8_t b[4608]; return Lib().mpeg_ReadDataBytes(h, b, sizeof b); }, -22, true},
    {"GetFileInfo", [](void* h) { MpegFileInfo info; return Lib().mpeg_GetFileInfo(h, &info); }, 22, true},
    {"AbortReadData", [](void* h) { return Lib().mpeg_AbortReadData(h); }, 0, false},
};

class DuringReadCallTest : public DuringReadTest, public ::testing::WithParamInterface<DuringReadCase> {};

TEST_P(DuringReadCallTest, IsRefusedOrEndsTheReadAndLosesNothing) {
    const std::vector<int16_t> whole = DecodeFrom(Fixture("s48.mp2"));
    Instance mpeg;
    int32_t status = -1;
    OpenWith(mpeg, [&] { status = GetParam().call(mpeg.get()); });
    std::vector<int16_t> got(kReadBytes / 2);
    const int32_t read = Lib().mpeg_ReadDataBytes(mpeg.get(), got.data(), kReadBytes);
    EXPECT_EQ(status, GetParam().status);
    if (GetParam().whole)
        EXPECT_EQ(read, kReadBytes);
    else
        EXPECT_LT(read, kReadBytes);
    got.resize(size_t(std::max(read, 0)) / 2);
    const std::vector<int16_t> rest = ReadToEnd(mpeg.get());
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got, whole);
}

INSTANTIATE_TEST_SUITE_P(Calls, DuringReadCallTest, ::testing::ValuesIn(kDuringRead), [](const auto& info) { return std::string(info.param.name); });

// mpeg_Done from another thread freed the instance under the read in
// progress, which then wrote into freed memory and called its freed
// decoder. Now the instance lives until that read returns; the handle is
// gone at once.
TEST_F(DuringReadTest, DoneDuringAReadLeavesTheReadItsInstance) {
    Instance mpeg;
    void* handle = mpeg.get();
    OpenWith(mpeg, [&] { Lib().mpeg_Done(&handle); });
    std::vector<uint8_t> buffer(kReadBytes);
    const int32_t read = Lib().mpeg_ReadDataBytes(mpeg.get(), buffer.data(), kReadBytes);
    EXPECT_GE(read, 0);
    EXPECT_LT(read, kReadBytes) << "the read was aborted";
    EXPECT_EQ(handle, nullptr);
    EXPECT_TRUE(Lib().mpeg_GetEmpty(mpeg.get()));
    EXPECT_EQ(Lib().mpeg_ReadDataBytes(mpeg.get(), buffer.data(), kReadBytes), -1) << "no such instance";
}

}  // namespace
}  // namespace mpeg_tests
