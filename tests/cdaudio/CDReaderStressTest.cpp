// Readers in the three copy modes opened, started, aborted while a worker
// pulls, stopped and closed in random order, on a drive whose commands all
// complete a moment later on threads of its own.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <thread>

#include "CDAudioFixtures.h"
#include "framework/Components.h"
#include "support/DialogDriver.h"
#include "support/TestSupport.h"

namespace cdaudio_tests {
namespace {

// A round takes 10 to 100 ms on the shared two-core test machine: the whole
// case, warm-up included, stays under a minute.
constexpr int kStressRounds = 200;
// Rounds before the counting starts, as many as are counted: a fresh process
// makes one handle of its own once, at a round that depends on the timing of
// the aborts (seen anywhere in the first 200; never in a second pass of 200).
constexpr int kWarmUpRounds = kStressRounds;
// A fixed seed, so that a failing round comes back on the next run.
constexpr uint32_t kStressSeed = 20261209;
// Pulls of a round: a 99-sector track is read to its end in about 24.
constexpr int kMostPullsPerRound = 4;

using namespace std::chrono_literals;

struct Player {
    TMMCDReader* reader = nullptr;
    testing_support::TestSink* sink = nullptr;
};

// The chain's worker pulls `pulls` requests of `size` bytes while this
// thread aborts after `abortAfterMs` (never when negative); true when no read raised.
bool PullWhileAborting(Player& player, int pulls, uint32_t size, int abortAfterMs) {
    bool failed = false;
    std::thread worker([&] {
        try {
            std::vector<uint8_t> out;
            bool more = true;
            for (int pull = 0; pull < pulls && more; ++pull) player.sink->PullOnce(size, out, more);
        } catch (const std::exception&) {
            failed = true;
        }
    });
    if (abortAfterMs >= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(abortAfterMs));
        player.reader->Abort();
    }
    worker.join();
    return !failed;
}

using CDReaderStressTest = CDAudioTest;

TEST_F(CDReaderStressTest, ReadersStartedAbortedStoppedAndClosedInAnyOrderLeaveNothingBehind) {
    std::mt19937 random(kStressSeed);
    auto chance = [&random](int in) { return std::uniform_int_distribution<int>(0, in - 1)(random) == 0; };
    {
        wc::TComponent owner(nullptr);
        Player players[3];
        const TMMCDCopyMode modes[3] = {cmNormal, cmBurst, cmSync};
        for (int i = 0; i < 3; ++i) {
            players[i].reader = &wc::MakeComponent<TMMCDReader>(owner);
            players[i].reader->SetDeviceID(0);
            ASSERT_TRUE(players[i].reader->ReadTOC());
            players[i].reader->SetCopyMode(modes[i]);
            players[i].reader->SelectTrack(1);
            players[i].sink = &wc::MakeComponent<testing_support::TestSink>(owner);
            players[i].sink->SetInput(players[i].reader);
        }
        // What the system makes on first use (a thread and a handle of its
        // own, seen once per process) is made by the first rounds, before counting.
        int threadsBefore = 0;
        DWORD handlesBefore = 0;
        for (int round = 0; round < kWarmUpRounds + kStressRounds; ++round) {
            SCOPED_TRACE(round);
            if (round == kWarmUpRounds) {
                for (Player& each : players) {
                    each.reader->Stopped();
                    each.reader->Closed();
                }
                // Counted once the drive's last completion threads have ended:
                // the same counts on two looks 20 ms apart.
                int lastThreads = -1;
                DWORD lastHandles = 0;
                EXPECT_TRUE(testing_support::WaitUntil([&] {
                    const int threads = testing_support::ThreadCount();
                    const DWORD handles = testing_support::HandleCount();
                    const bool steady = threads == lastThreads && handles == lastHandles;
                    lastThreads = threads;
                    lastHandles = handles;
                    return steady;
                }));
                threadsBefore = lastThreads;
                handlesBefore = lastHandles;
            }
            Player& player = players[std::uniform_int_distribution<int>(0, 2)(random)];
            TMMCDReader& reader = *player.reader;
            if (chance(4)) reader.Closed();
            reader.Opened();
            reader.Started();
            const int pulls = std::uniform_int_distribution<int>(1, kMostPullsPerRound)(random);
            const uint32_t size = std::uniform_int_distribution<uint32_t>(1000, 30000)(random) & ~3u;
            const int abortAfterMs = chance(2) ? std::uniform_int_distribution<int>(0, 5)(random) : -1;
            EXPECT_TRUE(PullWhileAborting(player, pulls, size, abortAfterMs)) << "a read raised";
            if (chance(2)) reader.Stopped();
            if (chance(3)) reader.Closed();
        }
        for (Player& player : players) {
            player.reader->Stopped();
            player.reader->Closed();
        }
        EXPECT_EQ(CDDrives().LockCount(kDriveLetter), 0);
        EXPECT_EQ(drive_.MediumLocks(), 0) << "the drive's medium stays locked";
        // The drive's completion threads of given-up requests end after their delay.
        int threadsAfter = 0;
        DWORD handlesAfter = 0;
        EXPECT_TRUE(testing_support::WaitUntil(
            [&] {
                threadsAfter = testing_support::ThreadCount();
                handlesAfter = testing_support::HandleCount();
                return threadsAfter == threadsBefore && handlesAfter == handlesBefore;
            },
            5000ms));
        EXPECT_EQ(threadsAfter, threadsBefore);
        EXPECT_EQ(handlesAfter, handlesBefore);
    }
}

}  // namespace
}  // namespace cdaudio_tests
