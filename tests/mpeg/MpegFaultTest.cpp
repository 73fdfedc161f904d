// The decoder library's faults, each with the case that showed it: frame
// sizes, exceptions, the codec's used bytes, the end flag and aborts.
#include "MpegFixtures.h"

#include <mmreg.h>

#include <algorithm>
#include <functional>

#include "support/ImportPatch.h"
#include "support/TestSupport.h"

namespace mpeg_tests {
namespace {

using namespace testing_support;

class MpegFaultTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(MpegLibraryAvailable()); }

    // An instance with the file set and open.
    void OpenOn(Instance& mpeg, const std::string& path) {
        ASSERT_EQ(Lib().mpeg_SetFileName(mpeg.get(), path.c_str()), 0) << path;
        ASSERT_EQ(Lib().mpeg_OpenFile(mpeg.get()), 0);
    }
};

HMODULE LibraryModule() { return ::GetModuleHandleA(MpegLibraryName); }

// A padded MPEG-2.5 layer II frame at 160 kbit/s and 8 kHz is 2881 bytes; the
// decoding batch held 2880 per frame, so a crafted file wrote past its end.
TEST_F(MpegFaultTest, TheLargestFramesADecodingBatchCanHoldDecodeWhole) {
    // FF E5 EA C0: MPEG-2.5, layer II, no CRC; bit rate 14 (160 kbit/s),
    // sample rate 2 (8 kHz), padded; one channel. 144 * 160000 / 8000 + 1 =
    // 2881 bytes; the rest of each frame is zero: nothing allocated, silence.
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 40; ++i) {
        bytes.insert(bytes.end(), {0xFF, 0xE5, 0xEA, 0xC0});
        bytes.resize(bytes.size() + 2877, 0);
    }
    WriteFileBytes(ScratchPath("large25.mp2"), bytes);
    Instance mpeg;
    OpenOn(mpeg, ScratchPath("large25.mp2"));
    EXPECT_EQ(InfoOf(mpeg.get()).Frames, 40);
    EXPECT_EQ(ReadToEnd(mpeg.get()).size(), 40u * 1152);
}

using MallocProc = void*(__cdecl*)(size_t);
MallocProc realMalloc = nullptr;
int failingAllocations = 0;

// The next allocation fails; later ones (the exception's own) succeed.
void* __cdecl FailOnce(size_t size) {
    if (failingAllocations > 0) {
        --failingAllocations;
        return nullptr;
    }
    return realMalloc(size);
}

// An allocation failure inside the library left its entry point as an
// exception, which the calling program could not catch.
TEST_F(MpegFaultTest, AnAllocationFailureIsAnsweredWithAStatus) {
    Instance mpeg, opened;
    const std::string path = Fixture("s48.mp2");
    OpenOn(opened, path);
    struct Row {
        const char* call;
        std::function<int32_t()> run;
        int32_t expected;
    };
    const Row rows[] = {
        {"mpeg_Init", [] { int32_t status = -1; return Lib().mpeg_Init(&status, nullptr, nullptr) ? -1 : status; }, 20},
        {"mpeg_SetFileName", [&] { return Lib().mpeg_SetFileName(mpeg.get(), path.c_str()); }, 20},
        {"mpeg_ReadDataBytes", [&] { uint8_t b[4608]; return Lib().mpeg_ReadDataBytes(opened.get(), b, sizeof b); }, -20},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.call);
        ImportPatch patch("msvcrt.dll", "malloc", reinterpret_cast<void*>(&FailOnce), LibraryModule());
        ASSERT_TRUE(patch.active());
        realMalloc = patch.original<MallocProc>();
        failingAllocations = 1;
        EXPECT_EQ(row.run(), row.expected);
        EXPECT_EQ(failingAllocations, 0) << "the library allocated";
    }
    EXPECT_EQ(MpegErrorText(20), "Not enough memory");
}

// The end was flagged only on the read after the one that returned the last
// sample.
TEST_F(MpegFaultTest, TheReadThatReturnsTheLastSampleFlagsTheEnd) {
    Instance mpeg;
    OpenOn(mpeg, Fixture("s32.mp2"));
    // Every frame of a layer II file gives 1152 sample frames of 4 bytes.
    const int32_t total = InfoOf(mpeg.get()).Frames * 1152 * 4;
    std::vector<uint8_t> buffer(size_t(total) + 4);
    EXPECT_EQ(Lib().mpeg_ReadDataBytes(mpeg.get(), buffer.data(), total), total);
    EXPECT_TRUE(Lib().mpeg_GetDone(mpeg.get()));
}

// An abort that came when no read was in progress ended the next read at
// once, with 0 bytes, which the reader takes for the end of the stream. An
// abort ends the read in progress only (MpegHostileTest.cpp has an abort
// during a read).
TEST_F(MpegFaultTest, AnAbortBetweenReadsLeavesTheNextReadAlone) {
    Instance mpeg;
    OpenOn(mpeg, Fixture("s48.mp2"));
    uint8_t buffer[4608];
    ASSERT_EQ(Lib().mpeg_AbortReadData(mpeg.get()), 0);
    EXPECT_EQ(Lib().mpeg_ReadDataBytes(mpeg.get(), buffer, sizeof buffer), 4608);
}

}  // namespace
}  // namespace mpeg_tests
