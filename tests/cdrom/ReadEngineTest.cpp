// The sector read engine against the virtual drive: the read with retries,
// burst mode with its reader thread, and synchronised mode.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "VirtualDriveFixture.h"
#include "support/TestSupport.h"

namespace {

// A PLEXTOR drive (reads with the vendor command 0xD8, the count in byte 9)
// and one audio track over the whole disc.
const char* const kDrive = "device 0 0 0 vendor=PLEXTOR product=\"CD-ROM PX-40TS\"\n";
const char* const kDisc = "track 1 0x00 0\nleadout 100000\n";

constexpr int kSector = 2352;

std::string ErrorText(int code) {
    char text[64] = {};
    cdGetErrorText(code, text, sizeof(text));
    return text;
}

// The read commands of a log as (first sector, sector count).
std::vector<std::pair<uint32_t, int>> Reads(const std::vector<VirtualDriveLogRecord>& log) {
    std::vector<std::pair<uint32_t, int>> reads;
    for (const auto& record : log)
        if (record.cdb[0] == 0xD8)
            reads.push_back({(uint32_t(record.cdb[2]) << 24) | (record.cdb[3] << 16) | (record.cdb[4] << 8) | record.cdb[5],
                             record.cdb[9]});
    return reads;
}

class ReadEngine : public VirtualDriveTest {
protected:
    // The drive and disc with `extra` statements; the device selected, its
    // table of contents read (the end of the audio area) and opened raw.
    void Open(const std::string& extra = "") {
        Start(std::string(kDrive) + kDisc + extra);
        ASSERT_EQ(cdSetDevice(context_.get(), 0), 0);
        CDTrackList toc;
        ASSERT_EQ(cdReadTOC(context_.get(), toc), 0);
        ASSERT_EQ(context_->audioEnd, 100000);
        ASSERT_EQ(cdOpen(context_.get(), true), 0);
        Mark();
    }
    // Describes the drive and disc again with `extra` statements, for those
    // (pending) that would slow the scan and set-up down.
    void Redescribe(const std::string& extra) {
        ASSERT_TRUE(drive_.Describe(std::string(kDrive) + kDisc + extra));
        Mark();
    }
    // The range in normal mode, `perRead` sectors a time.
    std::vector<uint8_t> ReadNormal(int32_t first, int count, int perRead) {
        std::vector<uint8_t> all, part(size_t(perRead) * CDLargeSectorSize);
        for (int done = 0; done < count; done += perRead) {
            const int n = std::min(perRead, count - done);
            const int status = cdReadSectors(context_.get(), part.data(), int64_t(part.size()), first + done, n);
            EXPECT_EQ(status, 0) << "at sector " << first + done;
            if (status != 0) break;
            all.insert(all.end(), part.begin(), part.begin() + std::ptrdiff_t(n) * kSector);
        }
        return all;
    }
    // Burst mode until it answers 0; the counts it answered in `counts`.
    std::vector<uint8_t> ReadBurst(int32_t first, int count, int perRead, std::vector<int>* counts = nullptr) {
        std::vector<uint8_t> all, part(size_t(perRead) * kSector);
        EXPECT_EQ(cdStartBurst(context_.get(), first, count, perRead), 0);
        for (int guard = 0; guard < count + 2; ++guard) {
            const int n = cdReadBurst(context_.get(), part.data(), int64_t(part.size()));
            if (counts) counts->push_back(n);
            if (n <= 0) break;
            all.insert(all.end(), part.begin(), part.begin() + std::ptrdiff_t(n) * kSector);
        }
        EXPECT_EQ(cdStopBurst(context_.get()), 0);
        return all;
    }
    // Synchronised mode in requests of `chunk` bytes until it answers 0 or
    // fails; the failure in `status`.
    std::vector<uint8_t> ReadSync(int32_t first, int count, int perRead, int64_t chunk, int64_t* status = nullptr) {
        std::vector<uint8_t> all, part(static_cast<size_t>(chunk));
        EXPECT_EQ(cdStartSync(context_.get(), first, count, perRead), 0);
        int64_t n = 0;
        for (int guard = 0; guard < 100000; ++guard) {
            n = cdReadSync(context_.get(), part.data(), chunk);
            if (n <= 0) break;
            all.insert(all.end(), part.begin(), part.begin() + std::ptrdiff_t(n));
        }
        if (status) *status = n;
        EXPECT_EQ(cdStopSync(context_.get()), 0);
        return all;
    }
};

// ---- the read with retries ----

class ReadRetries : public ReadEngine {};

TEST_F(ReadRetries, NineteenFailuresThenSuccessReadOneSectorLessOnTheLastAttempt) {
    const std::string failures = FailedReads(1, 19);
    Open(failures);
    context_->firstRead = false;
    std::vector<uint8_t> buffer(4 * kSector, 0x77);
    ASSERT_EQ(cdReadSectors(context_.get(), buffer.data(), int64_t(buffer.size()), 2000, 4), 0);
    const auto reads = Reads(Since());
    ASSERT_EQ(reads.size(), 20u);
    for (size_t i = 0; i < 19; ++i) EXPECT_EQ(reads[i], std::make_pair(2000u, 4)) << "attempt " << i + 1;
    EXPECT_EQ(reads[19], std::make_pair(2000u, 3));
    // Three sectors arrived; the fourth stays as the zeroing left it.
    const std::vector<uint8_t> three(buffer.begin(), buffer.begin() + 3 * kSector);
    EXPECT_TRUE(SameBytes(VirtualDiscSectors(2000, 3), three));
    const std::vector<uint8_t> last(buffer.begin() + 3 * kSector, buffer.end());
    EXPECT_TRUE(SameBytes(std::vector<uint8_t>(kSector, 0), last));
}

TEST_F(ReadRetries, TwentyFailuresGiveUnableToReadAudioData) {
    const std::string failures = FailedReads(1, 20);
    Open(failures);
    context_->firstRead = false;
    std::vector<uint8_t> buffer(4 * kSector);
    const int status = cdReadSectors(context_.get(), buffer.data(), int64_t(buffer.size()), 2000, 4);
    EXPECT_EQ(status, -15);
    EXPECT_EQ(ErrorText(status), "Unable to read audio data");
    EXPECT_EQ(Reads(Since()).size(), 20u);
    EXPECT_FALSE(context_->busy);
}

TEST_F(ReadRetries, AbortDuringRetriesEndsTheReadAtOnce) {
    // Every attempt fails after 100 ms: twenty of them would take two seconds.
    const std::string failures = "pending 100\n" + FailedReads(1, 20);
    Open();
    Redescribe(failures);
    context_->firstRead = false;
    CDDeviceContext* context = context_.get();
    std::atomic<DWORD> abortedAt{0};
    std::thread aborter([&] {
        const DWORD started = ::GetTickCount();
        while (Reads(Since()).size() < 3 && ::GetTickCount() - started < 10000) ::Sleep(5);
        abortedAt = ::GetTickCount();
        cdAbort(context);
    });
    std::vector<uint8_t> buffer(4 * kSector);
    const int status = cdReadSectors(context, buffer.data(), int64_t(buffer.size()), 2000, 4);
    const DWORD ended = ::GetTickCount();
    aborter.join();
    EXPECT_EQ(status, -15);
    EXPECT_LT(ended - abortedAt, 150u) << "the attempt in progress ends with the abort, no further one starts";
    EXPECT_LE(Reads(Since()).size(), 4u);
    EXPECT_FALSE(context_->busy);
}

TEST_F(ReadRetries, ABusyFlagIsSetWhileTheReadRuns) {
    Open();
    Redescribe("pending 200\n");
    context_->firstRead = false;
    CDDeviceContext* context = context_.get();
    std::atomic<bool> sawBusy{false};
    std::thread watcher([&] {
        const DWORD started = ::GetTickCount();
        while (!sawBusy && ::GetTickCount() - started < 2000) {
            if (context->busy) sawBusy = true;
            ::Sleep(1);
        }
    });
    std::vector<uint8_t> buffer(2 * kSector);
    EXPECT_EQ(cdReadSectors(context, buffer.data(), int64_t(buffer.size()), 10, 2), 0);
    watcher.join();
    EXPECT_TRUE(sawBusy);
    EXPECT_FALSE(context_->busy);
}

// ---- burst mode ----

class BurstMode : public ReadEngine {};

TEST_F(BurstMode, AWholeRangeEqualsTheGeneratedSectorsAndTheNormalRead) {
    Open();
    std::vector<int> counts;
    const std::vector<uint8_t> burst = ReadBurst(1000, 95, 10, &counts);
    EXPECT_TRUE(SameBytes(VirtualDiscSectors(1000, 95), burst));
    const std::vector<int> expectedCounts = {10, 10, 10, 10, 10, 10, 10, 10, 10, 5, 0};
    EXPECT_EQ(counts, expectedCounts);
    const std::vector<uint8_t> normal = ReadNormal(1000, 95, 10);
    EXPECT_TRUE(SameBytes(normal, burst));
}

TEST_F(BurstMode, TheThreadReadsTheRangeInOrderSectorsPerReadAtATime) {
    Open();
    ReadBurst(500, 25, 10);
    const auto reads = Reads(Since());
    const std::vector<std::pair<uint32_t, int>> expected = {{500u, 10}, {510u, 10}, {520u, 5}};
    EXPECT_EQ(reads, expected);
}

TEST_F(BurstMode, TheEndAnswersZeroAgainAndAgain) {
    Open();
    ASSERT_EQ(cdStartBurst(context_.get(), 300, 3, 10), 0);
    std::vector<uint8_t> buffer(10 * kSector);
    EXPECT_EQ(cdReadBurst(context_.get(), buffer.data(), int64_t(buffer.size())), 3);
    EXPECT_EQ(cdReadBurst(context_.get(), buffer.data(), int64_t(buffer.size())), 0);
    EXPECT_EQ(cdReadBurst(context_.get(), buffer.data(), int64_t(buffer.size())), 0);
    EXPECT_EQ(cdStopBurst(context_.get()), 0);
}

TEST_F(BurstMode, AFailedReadGivesTheConsumerUnableToReadAudioData) {
    // The thread's first read is taken without retries; it fails.
    Open("fail 0xD8 1\n");
    ASSERT_EQ(cdStartBurst(context_.get(), 300, 30, 10), 0);
    std::vector<uint8_t> buffer(10 * kSector);
    const int status = cdReadBurst(context_.get(), buffer.data(), int64_t(buffer.size()));
    EXPECT_EQ(status, -15);
    EXPECT_EQ(ErrorText(status), "Unable to read audio data");
    EXPECT_EQ(cdStopBurst(context_.get()), 0);
}

TEST_F(BurstMode, StartingOnADeviceThatIsNotOpenAnswersMinusOne) {
    Open();
    ASSERT_EQ(cdClose(context_.get()), 0);
    EXPECT_EQ(cdStartBurst(context_.get(), 0, 10, 10), -1);
    EXPECT_FALSE(context_->burst.thread);
    std::vector<uint8_t> buffer(10 * kSector);
    EXPECT_EQ(cdReadBurst(context_.get(), buffer.data(), int64_t(buffer.size())), -1);
}

TEST_F(BurstMode, StoppingWhenNotRunningIsHarmless) {
    Open();
    EXPECT_EQ(cdStopBurst(context_.get()), 0);
    EXPECT_EQ(cdStopBurst(context_.get()), 0);
    EXPECT_TRUE(context_->opened);
}

TEST_F(BurstMode, ABufferSmallerThanOneReadIsRefused) {
    Open();
    ASSERT_EQ(cdStartBurst(context_.get(), 0, 30, 10), 0);
    std::vector<uint8_t> buffer(10 * kSector - 1);
    EXPECT_EQ(cdReadBurst(context_.get(), buffer.data(), int64_t(buffer.size())), CDErrInvalidParam);
    EXPECT_EQ(cdStopBurst(context_.get()), 0);
}

TEST_F(BurstMode, StoppingDuringASlowReadEndsWithinItsBoundsAndLeavesNoThreadOrHandle) {
    Open();
    // Warm up what the system creates on first use, then count.
    ReadBurst(10, 20, 10);
    Redescribe("pending 1500\n");
    const int threadsBefore = testing_support::ThreadCount();
    const DWORD handlesBefore = testing_support::HandleCount();
    ASSERT_GT(threadsBefore, 0);
    ASSERT_GT(handlesBefore, 0u);

    ASSERT_EQ(cdStartBurst(context_.get(), 1000, 100, 10), 0);
    EXPECT_EQ(testing_support::ThreadCount(), threadsBefore + 1) << "one reader thread";
    std::vector<uint8_t> buffer(10 * kSector);
    ASSERT_EQ(cdReadBurst(context_.get(), buffer.data(), int64_t(buffer.size())), 10);
    // The consumer asked for the next buffer: the thread is inside its slow read.
    const DWORD waitBusy = ::GetTickCount();
    while (!context_->busy && ::GetTickCount() - waitBusy < 1000) ::Sleep(1);
    ASSERT_TRUE(context_->busy);
    const DWORD started = ::GetTickCount();
    EXPECT_EQ(cdStopBurst(context_.get()), 0);
    const DWORD elapsed = ::GetTickCount() - started;
    EXPECT_LT(elapsed, 1000u) << "the read in progress is given up, not waited for";
    EXPECT_FALSE(context_->busy);
    EXPECT_FALSE(context_->abort) << "the abort that ended the read does not outlive the stop";
    EXPECT_FALSE(context_->burst.thread);

    // The drive's own completion thread for the given-up request ends after its delay.
    int threadsAfter = 0;
    DWORD handlesAfter = 0;
    const DWORD waitDrive = ::GetTickCount();
    do {
        ::Sleep(50);
        threadsAfter = testing_support::ThreadCount();
        handlesAfter = testing_support::HandleCount();
    } while ((threadsAfter != threadsBefore || handlesAfter != handlesBefore) && ::GetTickCount() - waitDrive < 5000);
    EXPECT_EQ(threadsAfter, threadsBefore);
    EXPECT_EQ(handlesAfter, handlesBefore);
    // The device still answers.
    Redescribe("");
    EXPECT_TRUE(SameBytes(VirtualDiscSectors(2000, 2), ReadNormal(2000, 2, 2)));
}

TEST_F(BurstMode, DoneStopsARunningReaderThread) {
    Open();
    ASSERT_EQ(cdStartBurst(context_.get(), 1000, 100, 10), 0);
    std::vector<uint8_t> buffer(10 * kSector);
    ASSERT_EQ(cdReadBurst(context_.get(), buffer.data(), int64_t(buffer.size())), 10);
    const HANDLE thread = context_->burst.thread.get();
    HANDLE watch = nullptr;
    ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), thread, ::GetCurrentProcess(), &watch, SYNCHRONIZE, FALSE, 0));
    wc::KernelHandle owner(watch);
    EXPECT_EQ(cdDone(context_), 0);
    EXPECT_EQ(::WaitForSingleObject(owner.get(), 0), WAIT_OBJECT_0) << "the thread has ended";
}

// ---- synchronised mode ----

class SyncMode : public ReadEngine {};

TEST_F(SyncMode, AWholeRangeEqualsTheGeneratedSectorsAndTheNormalRead) {
    Open();
    int64_t status = 1;
    const std::vector<uint8_t> sync = ReadSync(1000, 95, 10, 10 * kSector, &status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(SameBytes(VirtualDiscSectors(1000, 95), sync));
    const std::vector<uint8_t> normal = ReadNormal(1000, 95, 10);
    EXPECT_TRUE(SameBytes(normal, sync));
}

TEST_F(SyncMode, RequestsOfAnySizeAreServedInOrder) {
    Open();
    int64_t status = 1;
    const std::vector<uint8_t> sync = ReadSync(3000, 47, 10, 5001, &status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(SameBytes(VirtualDiscSectors(3000, 47), sync));
    // One request for more than the whole range: every pass in one call, then the end.
    status = 1;
    const std::vector<uint8_t> whole = ReadSync(3000, 47, 10, 47 * kSector + 100, &status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(SameBytes(VirtualDiscSectors(3000, 47), whole));
}

TEST_F(SyncMode, WithTenSectorsPerReadThePassesAreTwentySectorReadsAdvancingByTen) {
    Open();
    ReadSync(1000, 95, 10, 10 * kSector);
    // The first pass hands out 15 sectors, every further one 10: nine
    // passes, the last one short of the range's end.
    const std::vector<std::pair<uint32_t, int>> expected = {{1000u, 20}, {1010u, 20}, {1020u, 20},
                                                            {1030u, 20}, {1040u, 20}, {1050u, 20},
                                                            {1060u, 20}, {1070u, 20}, {1080u, 15}};
    EXPECT_EQ(Reads(Since()), expected);
}

TEST_F(SyncMode, ReadsShiftedByAFewBytesAreJoinedToTheExactData) {
    Open("shift 2 8\nshift 3 -12\nshift 5 400\nshift 6 400\nshift 8 -2000\n");
    int64_t status = 1;
    const std::vector<uint8_t> sync = ReadSync(1000, 95, 10, 10 * kSector, &status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(SameBytes(VirtualDiscSectors(1000, 95), sync));
}

TEST_F(SyncMode, TheFirstPassIsTakenAsItIsAndTheRestFollowsIt) {
    Open("shift 1 -8\n");
    int64_t status = 1;
    const std::vector<uint8_t> sync = ReadSync(1000, 40, 10, 10 * kSector, &status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(SameBytes(VirtualDiscSectors(1000, 40, -8), sync));
}

TEST_F(SyncMode, AShiftOfHalfASampleCannotBeMatched) {
    Open("shift 3 2\n");
    int64_t status = 1;
    ReadSync(1000, 95, 10, 10 * kSector, &status);
    EXPECT_EQ(status, -16);
    EXPECT_EQ(ErrorText(int(status)), "Synchronisation failed");
}

TEST_F(SyncMode, AShiftBeyondTheSearchedStretchCannotBeMatched) {
    // The last quarter of the previous pass lies 5 sectors into the next; a
    // read that starts 3 sectors late puts it before an eighth of the pass.
    Open("shift 2 7056\n");
    int64_t status = 1;
    ReadSync(1000, 95, 10, 10 * kSector, &status);
    EXPECT_EQ(status, -16);
}

TEST_F(SyncMode, DigitalSilenceIsTakenWhereAnUnshiftedReadPutsIt) {
    // Sectors 1020-1059 are silent: the passes whose compare block lies in
    // the silence match everywhere.
    Open("silence 1020 40\n");
    int64_t status = 1;
    const std::vector<uint8_t> sync = ReadSync(1000, 95, 10, 10 * kSector, &status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(SameBytes(VirtualDiscSectors(1000, 95, 0, 1020, 1060), sync));
}

TEST_F(SyncMode, AFailedPassGivesUnableToReadAudioData) {
    const std::string failures = FailedReads(2, 21);
    Open(failures);
    int64_t status = 1;
    const std::vector<uint8_t> sync = ReadSync(1000, 95, 10, 10 * kSector, &status);
    EXPECT_EQ(status, -15);
    // The first request was served from the first pass; the second failed.
    EXPECT_TRUE(SameBytes(VirtualDiscSectors(1000, 10), sync));
}

TEST_F(SyncMode, StartingOnADeviceThatIsNotOpenAnswersMinusOne) {
    Open();
    ASSERT_EQ(cdClose(context_.get()), 0);
    EXPECT_EQ(cdStartSync(context_.get(), 0, 10, 10), -1);
    std::vector<uint8_t> buffer(kSector);
    EXPECT_EQ(cdReadSync(context_.get(), buffer.data(), int64_t(buffer.size())), -1);
    EXPECT_EQ(cdStopSync(context_.get()), 0);
}

TEST_F(SyncMode, PassesLongerThanOneReadCommandAreRefused) {
    Open();
    EXPECT_EQ(cdStartSync(context_.get(), 0, 1000, 128), CDErrInvalidParam);
    EXPECT_EQ(cdStartSync(context_.get(), 0, 1000, 127), 0);
    EXPECT_EQ(cdStopSync(context_.get()), 0);
}

}  // namespace
