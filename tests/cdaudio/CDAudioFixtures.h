// The CD audio components against the virtual CD-ROM drive: a disc of three
// tracks in the drive that the system reports as X:, its expected sector
// data, and reading a whole range through the chain.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "media/cd/MMCDA.h"
#include "media/cd/MMCDRead.h"
#include "support/ChainFixtures.h"
#include "support/VirtualDriveLoader.h"

namespace cdaudio_tests {

// The letter the test prefix maps as a CD-ROM drive (scripts/env.sh).
inline constexpr char kDriveLetter = 'X';
// Track 1: sectors 0 .. 999, track 2: 1000 .. 1099, track 3: 1100 .. 1999.
inline constexpr int32_t kTrackLba[3] = {0, 1000, 1100};
inline constexpr int32_t kLeadOut = 2000;
extern const char* const kDisc;

// A command block's bytes as text, as the drive logged them.
std::vector<std::string> Commands(const std::vector<VirtualDriveLogRecord>& records);
// Only the commands with that opcode.
std::vector<std::string> CommandsOf(const std::vector<VirtualDriveLogRecord>& records, uint8_t opcode);
// A packed MSF value.
inline uint32_t MSF(uint32_t minutes, uint32_t seconds, uint32_t frames) {
    return minutes | (seconds << 8) | (frames << 16);
}

class CDAudioTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Log entries added since the last Mark().
    void Mark() { mark_ = drive_.LogSize(); }
    std::vector<VirtualDriveLogRecord> Since() const;

    // A reader on the virtual drive, its table of contents read.
    TMMCDReader& NewReader();
    // A sink pulling from `reader`, which is opened and started.
    testing_support::TestSink& StartReading(TMMCDReader& reader);
    // Opens and starts `reader` as the head of a chain, pulls everything in
    // requests of `bufferSize` bytes, then stops and closes it.
    std::vector<uint8_t> ReadAll(TMMCDReader& reader, uint32_t bufferSize);

    VirtualDrive drive_;
    wc::TComponent root_{nullptr};
    size_t mark_ = 0;
};

}  // namespace cdaudio_tests
