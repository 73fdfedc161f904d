// A track of the virtual disc plays through TMMCDAFile and the wave output;
// the bytes the (redirected) sound device received are the disc's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <tuple>

#include "CDAudioFixtures.h"
#include "media/playback/MMWavOut.h"
#include "support/TestSupport.h"

namespace cdaudio_tests {
namespace {

// The file the ALSA default device writes to (tests.cmake); empty when not redirected.
std::string CapturePath() {
    const char* path = std::getenv("WC_CDAUDIO_CAPTURE");
    if (!path || !*path) return {};
    std::string windows = std::string("Z:") + path;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
}

class CDAPlaybackTest : public CDAudioTest, public ::testing::WithParamInterface<std::tuple<TMMCBMode, TMMCDCopyMode>> {};

TEST_P(CDAPlaybackTest, ATrackPlaysThroughTheWaveOutputByteForByte) {
    ASSERT_FALSE(CapturePath().empty()) << "the ALSA default device is not redirected to a file";
    ASSERT_GT(TMMWaveOut::NumDevs(), 0) << "Wine found no wave output device";
    // Played in real time: the drive answers at once, so that a busy machine
    // cannot starve the device between two reads.
    std::string disc = kDisc;
    disc.erase(disc.find("pending 1\n"), 10);
    ASSERT_TRUE(drive_.Describe(disc));
    // Bytes of an earlier run must not count.
    ::DeleteFileA(CapturePath().c_str());
    TMMWaveOut& out = wc::MakeComponent<TMMWaveOut>(root_);
    TMMCDAFile& file = wc::MakeComponent<TMMCDAFile>(root_);
    file.SetFileName("X:\\Track02.cda");
    file.Reader().SetCopyMode(std::get<1>(GetParam()));
    out.SetCallBackMode(std::get<0>(GetParam()));
    out.SetNumBuffers(4);
    out.SetBufferSize(8192);
    out.SetInput(&file);
    ASSERT_NE(out.PWaveFormat(), nullptr);
    EXPECT_EQ(out.PWaveFormat()->nSamplesPerSec, 44100u);
    int stops = 0;
    out.OnStop = [&](wc::TComponent*) { ++stops; };
    Mark();
    out.Start();
    ASSERT_TRUE(testing_support::PumpUntil([&] { return stops > 0; })) << "playback never ended";
    EXPECT_EQ(out.BytesPlayed(), int64_t(99) * 2352);
    out.Close();
    // Playing took the medium lock once more and gave it back; the track file keeps its own.
    EXPECT_EQ(CDDrives().LockCount(kDriveLetter), 1);
    EXPECT_FALSE(file.Reader().ReaderOpened());

    const std::vector<uint8_t> played = testing_support::ReadFileBytes(CapturePath());
    const std::vector<uint8_t> expected = VirtualDiscSectors(1000, 99);
    ASSERT_GE(played.size(), expected.size());
    EXPECT_NE(std::search(played.begin(), played.end(), expected.begin(), expected.end()), played.end())
        << "the device did not receive the track's 232848 bytes in one piece";
}

std::string PlaybackName(const ::testing::TestParamInfo<std::tuple<TMMCBMode, TMMCDCopyMode>>& info) {
    static const char* const copyModes[] = {"Normal", "Burst", "Sync"};
    return std::string(std::get<0>(info.param) == cmWindow ? "Window" : "Thread") + copyModes[std::get<1>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Modes, CDAPlaybackTest,
                         ::testing::Values(std::make_tuple(cmWindow, cmNormal), std::make_tuple(cmThread, cmNormal),
                                           std::make_tuple(cmThread, cmBurst), std::make_tuple(cmWindow, cmSync)),
                         PlaybackName);

}  // namespace
}  // namespace cdaudio_tests
