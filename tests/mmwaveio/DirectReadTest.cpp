// Reads at least as large as the file buffer bypass it; these pin down that
// every byte still arrives in order and the position bookkeeping stays exact.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <vector>

#include "media/wave/MMWaveIO.h"
#include "support/ImportPatch.h"
#include "support/TestSupport.h"

using testing_support::ImportPatch;
using testing_support::MakePcmWave;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

namespace {

constexpr int32_t kBuffer = 8192;  // the file buffer set for these reads

// Sample byte i of the test wave.
uint8_t ByteAt(size_t i) { return uint8_t(i * 31 + (i >> 8) * 7 + 3); }

class DirectRead : public ::testing::Test {
protected:
    void SetUp() override {
        samples_.resize(kDataBytes);
        for (size_t i = 0; i < samples_.size(); ++i) samples_[i] = ByteAt(i);
        path_ = dir_ / "direct.wav";
        WriteFileBytes(path_, MakePcmWave(2, 44100, 16, samples_));
        ASSERT_EQ(WaveIOOpen(handle_, path_.c_str()), 0);
        ASSERT_EQ(WaveIOBeginAccess(handle_), 0);
        ASSERT_EQ(WaveIOSetBuffer(handle_, kBuffer), 0);
    }
    void TearDown() override {
        if (handle_) {
            WaveIOEndAccess(handle_);
            WaveIOFree(handle_);
        }
    }
    // Reads `count` bytes and checks them against the file's bytes from `at`.
    void ReadAndCheck(size_t& at, int32_t count, const char* what) {
        std::vector<uint8_t> got(size_t(count), 0xEE);
        const int32_t n = WaveIORead(handle_, got.data(), count);
        const int32_t expected = int32_t(std::min<size_t>(size_t(count), samples_.size() - at));
        ASSERT_EQ(n, expected) << what << " at " << at;
        for (int32_t i = 0; i < n; ++i) ASSERT_EQ(got[size_t(i)], samples_[at + size_t(i)]) << what << " byte " << at + size_t(i);
        at += size_t(n);
        EXPECT_EQ(handle_->bytesLeft, uint32_t(samples_.size() - at)) << what;
        EXPECT_EQ(handle_->position, uint32_t(at / 4)) << what << ": frames of 4 bytes read";
    }

    static constexpr size_t kDataBytes = 200000;  // 50000 stereo frames
    TempDir dir_{"directread"};
    std::string path_;
    std::vector<uint8_t> samples_;
    PWaveIOHandle handle_ = nullptr;
};

TEST_F(DirectRead, LargeAndSmallReadsInTurnDeliverTheFileInOrder) {
    size_t at = 0;
    // Small (through the buffer), large (past it), odd sizes on both sides of the buffer's size.
    const int32_t sizes[] = {100, 3 * kBuffer + 12, 4, kBuffer, kBuffer - 4, 5 * kBuffer, 40, 2 * kBuffer + 4000, 8};
    for (int round = 0; at < samples_.size() && round < 40; ++round)
        ReadAndCheck(at, sizes[round % std::size(sizes)], "mixed reads");
    EXPECT_EQ(at, samples_.size());
    std::vector<uint8_t> more(16);
    EXPECT_EQ(WaveIORead(handle_, more.data(), 16), -1) << "nothing left";
}

TEST_F(DirectRead, OneReadOfTheWholeDataAfterASeekStartsAtTheSeekedFrame) {
    ASSERT_EQ(WaveIOSeek(handle_, 1001), 0);
    size_t at = 1001 * 4;
    ReadAndCheck(at, int32_t(kDataBytes), "whole rest");
    EXPECT_EQ(at, samples_.size());
}

TEST_F(DirectRead, ASeekBetweenLargeReadsAndAFollowingSmallReadLandExactly) {
    size_t at = 0;
    ReadAndCheck(at, 6 * kBuffer, "large");
    ASSERT_EQ(WaveIOSeek(handle_, 7), 0);
    at = 7 * 4;
    ReadAndCheck(at, 12, "small after the seek");
    ReadAndCheck(at, 2 * kBuffer, "large after the small");
    ReadAndCheck(at, 4, "small again");
}

TEST_F(DirectRead, AccessEndedAfterALargeReadBeginsAgainAtTheStart) {
    size_t at = 0;
    ReadAndCheck(at, 4 * kBuffer, "large");
    ASSERT_EQ(WaveIOEndAccess(handle_), 0);
    ASSERT_EQ(WaveIOBeginAccess(handle_), 0);
    ASSERT_EQ(WaveIOSetBuffer(handle_, kBuffer), 0);
    at = 0;
    ReadAndCheck(at, 100, "small at the start again");
    ReadAndCheck(at, 3 * kBuffer, "large");
}

// The program's file calls while one FileCalls lives: reads that name their
// offset, and moves of the system's file pointer.
struct FileCalls {
    static inline int readsAtOffset = 0, pointerMoves = 0;
    static inline ImportPatch* read = nullptr;
    static inline ImportPatch* move = nullptr;

    static BOOL WINAPI Read(HANDLE file, LPVOID buffer, DWORD count, LPDWORD got, LPOVERLAPPED at) {
        if (at) ++readsAtOffset;
        return read->original<decltype(&::ReadFile)>()(file, buffer, count, got, at);
    }
    static BOOL WINAPI Move(HANDLE file, LARGE_INTEGER to, PLARGE_INTEGER reached, DWORD how) {
        ++pointerMoves;
        return move->original<decltype(&::SetFilePointerEx)>()(file, to, reached, how);
    }

    ImportPatch readPatch{"kernel32.dll", "ReadFile", reinterpret_cast<void*>(&Read)};
    ImportPatch movePatch{"kernel32.dll", "SetFilePointerEx", reinterpret_cast<void*>(&Move)};
    FileCalls() {
        readsAtOffset = pointerMoves = 0;
        read = &readPatch;
        move = &movePatch;
    }
};

// Every read named its file offset, which under Wine costs a round trip to
// the Wine server per call: the wave layer read at a quarter of ReadFile's speed.
TEST_F(DirectRead, ReadsThatGoOnWhereTheLastEndedNeitherNameAnOffsetNorMoveThePointer) {
    size_t at = 0;
    ReadAndCheck(at, 100, "first read");  // places the pointer at the data
    FileCalls calls;
    ASSERT_TRUE(calls.readPatch.active() && calls.movePatch.active());
    const int32_t sizes[] = {100, 3 * kBuffer + 12, 4, kBuffer, 5 * kBuffer, 40};
    for (int round = 0; at < samples_.size() && round < 40; ++round)
        ReadAndCheck(at, sizes[round % std::size(sizes)], "sequential reads");
    EXPECT_EQ(at, samples_.size());
    EXPECT_EQ(FileCalls::readsAtOffset, 0);
    EXPECT_EQ(FileCalls::pointerMoves, 0);
}

}  // namespace
