// TMMCDReader against the virtual drive: devices, properties, ranges, the
// three copy modes, volume, silence and the medium lock.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "CDAudioFixtures.h"
#include "media/MMErrors.h"
#include "media/cd/MMSPTI.h"
#include "support/DialogDriver.h"

namespace cdaudio_tests {
namespace {

using testing_support::ErrorText;

constexpr const char* kWhileOpen = "Change to property while device was open";
constexpr const char* kInvalidDevice = "Invalid DeviceID";

using CDReaderTest = CDAudioTest;

// The system's platform without any ASPI manager library or pass-through.
class NoAccessPlatform : public CDSystemPlatform {
public:
    bool PassThroughCapable() override { return false; }
    HMODULE LoadLib(const char*) override { return nullptr; }
};

TEST_F(CDReaderTest, AReaderWhoseDeviceLayerDidNotStartRaisesItsText) {
    NoAccessPlatform platform;
    CDSetPlatform(&platform);
    {
        wc::TComponent owner(nullptr);
        TMMCDReader& reader = wc::MakeComponent<TMMCDReader>(owner);
        const std::string text = "Could not load WNASPI32.DLL";
        EXPECT_TRUE(reader.Devices().empty());
        EXPECT_EQ(ErrorText<EMMCDDAError>([&] { reader.MediaPresent(); }), text);
        EXPECT_EQ(ErrorText<EMMCDDAError>([&] { reader.ReadTOC(); }), text);
        EXPECT_EQ(ErrorText<EMMCDDAError>([&] { reader.ReadCDText(); }), text);
        EXPECT_EQ(ErrorText<EMMCDDAError>([&] { reader.StopAudio(); }), text);
        EXPECT_EQ(ErrorText<EMMCDDAError>([&] { reader.LockMedium(); }), text);
        EXPECT_EQ(ErrorText<EMMCDDAError>([&] { reader.SetDeviceID(0); }), text);
        EXPECT_EQ(ErrorText<EMMCDDAError>([&] { reader.Opened(); }), text);
        EXPECT_FALSE(reader.ReaderOpened());
        // Deselecting what was never selected changes nothing and needs no device.
        reader.SetDeviceID(-2);
    }
    CDSetPlatform(nullptr);
}

TEST_F(CDReaderTest, ListsTheVirtualDriveWithItsNameLetterAndDefaults) {
    TMMCDReader& reader = wc::MakeComponent<TMMCDReader>(root_);
    ASSERT_EQ(reader.Devices().size(), 1u);
    EXPECT_EQ(reader.Devices()[0].DeviceName, "PLEXTOR - PX-TEST");
    EXPECT_EQ(reader.Devices()[0].DriveLetter, kDriveLetter);
    EXPECT_EQ(reader.Devices()[0].DeviceType, 0);
    EXPECT_EQ(reader.Devices()[0].Reserved, -1);
    EXPECT_EQ(reader.Devices()[0].Flag, 1);
    EXPECT_TRUE(reader.Enabled());
    EXPECT_EQ(reader.BlockCount(), 10);
    EXPECT_EQ(reader.CopyMode(), cmNormal);
    EXPECT_EQ(reader.DeviceID(), -2);
    EXPECT_EQ(reader.CopyVolume(), 16384);
    EXPECT_FALSE(reader.IgnoreSpeed());
    EXPECT_EQ(reader.Speed(), -1);
    ASSERT_EQ(reader.Speeds().size(), 1u);
    EXPECT_EQ(reader.Speeds()[0].Name, "Default");
    EXPECT_EQ(reader.Speeds()[0].Value, 0xFFFF);
    const WAVEFORMATEX* format = reader.PWaveFormat();
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(format->wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(format->nChannels, 2);
    EXPECT_EQ(format->nSamplesPerSec, 44100u);
    EXPECT_EQ(format->wBitsPerSample, 16);
    EXPECT_EQ(format->nBlockAlign, 4);
    EXPECT_EQ(format->nAvgBytesPerSec, 176400u);
}

TEST_F(CDReaderTest, TheTableOfContentsListsTheTracksWithTheLeadIn) {
    TMMCDReader& reader = NewReader();
    EXPECT_TRUE(reader.TOCValid());
    EXPECT_TRUE(reader.MediaPresent());
    ASSERT_EQ(reader.Tracks().count, 3);
    // Track 2 starts at sector 1000 + 150 frames of lead-in = 0:15.25 and lasts 100 frames = 0:01.25.
    EXPECT_EQ(reader.Tracks().tracks[1].number, 2);
    EXPECT_EQ(reader.Tracks().tracks[1].start, MSF(0, 15, 25));
    EXPECT_EQ(reader.Tracks().tracks[1].length, MSF(0, 1, 25));
}

TEST_F(CDReaderTest, SelectingADeviceClearsTheDiscAndResetsTheSpeeds) {
    TMMCDReader& reader = NewReader();
    ASSERT_TRUE(reader.ReadCDText());
    reader.SetDeviceID(-5);
    EXPECT_EQ(reader.DeviceID(), -2);
    EXPECT_EQ(reader.Tracks().count, 0);
    EXPECT_FALSE(reader.TOCValid());
    EXPECT_EQ(reader.CDTextBlockCount(), 0);
    EXPECT_EQ(reader.Speeds().size(), 1u);
    EXPECT_EQ(ErrorText<EMMCDDAError>([&] { reader.SetDeviceID(3); }), kInvalidDevice);
}

TEST_F(CDReaderTest, NameAndLetterNeedASelectedDevice) {
    TMMCDReader& reader = wc::MakeComponent<TMMCDReader>(root_);
    EXPECT_EQ(ErrorText<EMMCDDAError>([&] { reader.DeviceName(); }), kInvalidDevice);
    EXPECT_EQ(ErrorText<EMMCDDAError>([&] { reader.DriveLetter(); }), kInvalidDevice);
    reader.SetDeviceID(0);
    EXPECT_EQ(reader.DeviceName(), "PLEXTOR - PX-TEST");
    EXPECT_EQ(reader.DriveLetter(), kDriveLetter);
    // Their setters change nothing.
    reader.SetDeviceName("Other");
    reader.SetDriveLetter('Q');
    EXPECT_EQ(reader.DeviceName(), "PLEXTOR - PX-TEST");
    EXPECT_EQ(reader.DriveLetter(), kDriveLetter);
}

TEST_F(CDReaderTest, DeviceTypeIsKeptInTheSelectedEntry) {
    TMMCDReader& reader = NewReader();
    reader.SetDeviceType(22);
    EXPECT_EQ(reader.DeviceType(), 22);
    EXPECT_EQ(reader.Devices()[0].DeviceType, 22);
    EXPECT_EQ(ErrorText<EMMCDDAError>([&] { reader.SetDeviceType(25); }), "Invalid param");
    EXPECT_EQ(reader.DeviceType(), 22);
}

TEST_F(CDReaderTest, PropertiesAreRefusedWhileOpen) {
    TMMCDReader& reader = NewReader();
    reader.SelectTrack(1);
    reader.Opened();
    EXPECT_EQ(ErrorText<EMMCDDAError>([&] { reader.SetCopyMode(cmBurst); }), kWhileOpen);
    EXPECT_EQ(ErrorText<EMMCDDAError>([&] { reader.SetIgnoreSpeed(true); }), kWhileOpen);
    EXPECT_EQ(ErrorText<EMMCDDAError>([&] { reader.SetSpeed(4); }), kWhileOpen);
    EXPECT_EQ(ErrorText<EMMCDDAError>([&] { reader.SetDeviceID(-2); }), kWhileOpen);
    EXPECT_EQ(ErrorText<EMMCDDAError>([&] { reader.SetRange(MSF(0, 2, 0), MSF(0, 1, 0)); }), kWhileOpen);
    EXPECT_EQ(reader.CopyMode(), cmNormal);
    EXPECT_FALSE(reader.IgnoreSpeed());
    EXPECT_EQ(reader.Speed(), -1);
    EXPECT_EQ(reader.DeviceID(), 0);
    // In normal mode the position may move while open.
    reader.SetPosition(1050);
    EXPECT_EQ(reader.CurrentSector(), 1050);
    reader.Closed();
    reader.SetCopyMode(cmSync);
    reader.Opened();
    EXPECT_EQ(ErrorText<EMMCDDAError>([&] { reader.SetPosition(1010); }), kWhileOpen);
    reader.Closed();
}

TEST_F(CDReaderTest, CopyVolumeIsHeldBetweenSilenceAndDouble) {
    TMMCDReader& reader = wc::MakeComponent<TMMCDReader>(root_);
    reader.SetCopyVolume(-1);
    EXPECT_EQ(reader.CopyVolume(), 0);
    reader.SetCopyVolume(40000);
    EXPECT_EQ(reader.CopyVolume(), 32768);
    reader.SetCopyVolume(8192);
    EXPECT_EQ(reader.CopyVolume(), 8192);
}

TEST_F(CDReaderTest, TheOutputFormatCannotBeChanged) {
    TMMCDReader& reader = wc::MakeComponent<TMMCDReader>(root_);
    WAVEFORMATEX mono = *reader.PWaveFormat();
    mono.nChannels = 1;
    mono.nBlockAlign = 2;
    mono.nAvgBytesPerSec = 88200;
    EXPECT_EQ(ErrorText<EMMCDDAError>([&] { reader.SetPWaveFormat(&mono); }), "It's not allowed to change the WaveFormat");
    EXPECT_EQ(ErrorText<EMMCDDAError>([&] { reader.SetPWaveFormat(nullptr); }), "It's not allowed to change the WaveFormat");
    EXPECT_EQ(reader.PWaveFormat()->nChannels, 2);
    // The reader's own format, in a copy, is accepted.
    WAVEFORMATEX same = *reader.PWaveFormat();
    reader.SetPWaveFormat(&same);
    EXPECT_EQ(reader.PWaveFormat()->nSamplesPerSec, 44100u);
}

TEST_F(CDReaderTest, ARangeCoversItsLengthLessOneSector) {
    TMMCDReader& reader = wc::MakeComponent<TMMCDReader>(root_);
    // 0:04.10 is frame 310, sector 160; 0:00.20 is 20 frames.
    reader.SetRange(MSF(0, 4, 10), MSF(0, 0, 20));
    EXPECT_EQ(reader.FirstSector(), 160);
    EXPECT_EQ(reader.EndSector(), 179);
    EXPECT_EQ(reader.RangeStart(), 160);
    EXPECT_EQ(reader.CurrentSector(), 160);
}

TEST_F(CDReaderTest, SelectingATrackSetsItsRange) {
    TMMCDReader& reader = NewReader();
    reader.SelectTrack(1);
    EXPECT_EQ(reader.FirstSector(), 1000);
    EXPECT_EQ(reader.EndSector(), 1099);
    EXPECT_EQ(ErrorText<EMMCDDAError>([&] { reader.SelectTrack(3); }), "Invalid param");
}

// A 1000-frame track delivers 999 sectors.
TEST_F(CDReaderTest, AThousandFrameTrackDelivers999Sectors) {
    TMMCDReader& reader = NewReader();
    reader.SelectTrack(0);
    const std::vector<uint8_t> data = ReadAll(reader, 4096);
    EXPECT_EQ(data.size(), 2349648u);
}

class CDReaderModeTest : public CDAudioTest, public ::testing::WithParamInterface<std::tuple<TMMCDCopyMode, uint32_t>> {};

TEST_P(CDReaderModeTest, AWholeTrackEqualsTheDiscData) {
    const auto [mode, bufferSize] = GetParam();
    TMMCDReader& reader = NewReader();
    reader.SetCopyMode(mode);
    reader.SelectTrack(1);
    const std::vector<uint8_t> data = ReadAll(reader, bufferSize);
    EXPECT_TRUE(SameBytes(VirtualDiscSectors(1000, 99), data));
}

std::string ModeName(const ::testing::TestParamInfo<std::tuple<TMMCDCopyMode, uint32_t>>& info) {
    static const char* const names[] = {"Normal", "Burst", "Sync"};
    return std::string(names[std::get<0>(info.param)]) + "Requests" + std::to_string(std::get<1>(info.param));
}

// 4096-byte requests go through the block buffer; 47040 bytes (20 sectors)
// take whole reads straight into the request.
INSTANTIATE_TEST_SUITE_P(Normal, CDReaderModeTest,
                         ::testing::Combine(::testing::Values(cmNormal), ::testing::Values(4096u, 47040u)), ModeName);
INSTANTIATE_TEST_SUITE_P(Burst, CDReaderModeTest,
                         ::testing::Combine(::testing::Values(cmBurst), ::testing::Values(4096u, 47040u)), ModeName);
INSTANTIATE_TEST_SUITE_P(Sync, CDReaderModeTest,
                         ::testing::Combine(::testing::Values(cmSync), ::testing::Values(4096u, 47040u)), ModeName);

TEST_F(CDReaderTest, AFailedReadRaisesTheDeviceLayersText) {
    // Command 1 of the kind is the type probe at open; the first read after
    // opening is taken without retries, so its failure is final.
    ASSERT_TRUE(drive_.Describe(std::string(kDisc) + "fail 0xBE 2\n"));
    TMMCDReader& reader = NewReader();
    reader.SelectTrack(1);
    testing_support::TestSink& sink = StartReading(reader);
    std::vector<uint8_t> out;
    bool more = false;
    EXPECT_EQ(ErrorText<EMMCDDAError>([&] { sink.PullOnce(4096, out, more); }), "Unable to read audio data");
    reader.Closed();
}

// The read commands of each mode over track 1 (99 sectors from 1000, 03E8);
// the first is the drive's type probe at the first audio sector.
struct ReadPattern {
    const char* name;
    TMMCDCopyMode mode;
    int blockCount;
    size_t reads;  // how many there are; 0: at least those checked
    std::vector<std::pair<size_t, const char*>> commands;  // the n-th read command's bytes
};

const ReadPattern kReadPatterns[] = {
    // 14 reads of 7 sectors, then one of 1.
    {"NormalReadsBlockCountSectorsAtATime", cmNormal, 7, 16,
     {{0, "BE 04 00 00 00 00 00 00 01 F0 00 00"},
      {1, "BE 04 00 00 03 E8 00 00 07 F0 00 00"},
      {2, "BE 04 00 00 03 EF 00 00 07 F0 00 00"},
      {15, "BE 04 00 00 04 4A 00 00 01 F0 00 00"}}},
    // 8 reads of 12 sectors ahead, then one of 3.
    {"BurstReadsAheadInBlocksOfBlockCountSectors", cmBurst, 12, 10,
     {{1, "BE 04 00 00 03 E8 00 00 0C F0 00 00"},
      {2, "BE 04 00 00 03 F4 00 00 0C F0 00 00"},
      {9, "BE 04 00 00 04 48 00 00 03 F0 00 00"}}},
    // Passes of 20 sectors (0x14) from 1000, 1010 (03F2), 1020 (03FC).
    {"SyncReadsTwentySectorPassesAdvancingByTen", cmSync, 20, 0,
     {{0, "BE 04 00 00 00 00 00 00 01 F0 00 00"},
      {1, "BE 04 00 00 03 E8 00 00 14 F0 00 00"},
      {2, "BE 04 00 00 03 F2 00 00 14 F0 00 00"},
      {3, "BE 04 00 00 03 FC 00 00 14 F0 00 00"}}},
};

class CDReaderReads : public CDAudioTest, public ::testing::WithParamInterface<ReadPattern> {};

TEST_P(CDReaderReads, ATrackIsReadWithTheCommandsOfItsMode) {
    const ReadPattern& pattern = GetParam();
    TMMCDReader& reader = NewReader();
    reader.SetCopyMode(pattern.mode);
    reader.SetBlockCount(pattern.blockCount);
    reader.SelectTrack(1);
    Mark();
    EXPECT_TRUE(SameBytes(VirtualDiscSectors(1000, 99), ReadAll(reader, 4096)));
    const std::vector<std::string> reads = CommandsOf(Since(), 0xBE);
    if (pattern.reads) {
        ASSERT_EQ(reads.size(), pattern.reads);
    }
    for (const auto& [index, command] : pattern.commands) {
        ASSERT_LT(index, reads.size());
        EXPECT_EQ(reads[index], command) << "read " << index;
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, CDReaderReads, ::testing::ValuesIn(kReadPatterns),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CDReaderTest, CopyVolumeHalfHalvesEverySample) {
    TMMCDReader& reader = NewReader();
    reader.SetCopyVolume(8192);
    reader.SelectTrack(1);
    const std::vector<uint8_t> data = ReadAll(reader, 4096);
    const std::vector<uint8_t> disc = VirtualDiscSectors(1000, 99);
    ASSERT_EQ(data.size(), disc.size());
    size_t wrong = 0;
    for (size_t i = 0; i + 1 < disc.size(); i += 2) {
        const int16_t sample = int16_t(uint16_t(disc[i] | (disc[i + 1] << 8)));
        const int16_t half = int16_t(sample >> 1);  // arithmetic shift: rounds toward minus infinity
        const int16_t got = int16_t(uint16_t(data[i] | (data[i + 1] << 8)));
        if (got != half) ++wrong;
    }
    EXPECT_EQ(wrong, 0u);
}

// A position set while the chain's worker was inside a read was overwritten
// when that read ended: the next request went on after the old position.
TEST_F(CDReaderTest, APositionSetDuringAReadTakesEffectAfterIt) {
    ASSERT_TRUE(drive_.Describe(std::string(kDisc) + "delay 0xBE 300\n"));
    TMMCDReader& reader = NewReader();
    reader.SelectTrack(1);
    testing_support::TestSink& sink = StartReading(reader);
    Mark();
    std::thread worker([&] {
        std::vector<uint8_t> out;
        bool more = false;
        sink.PullOnce(4096, out, more);
    });
    EXPECT_TRUE(testing_support::WaitUntil([&] { return !CommandsOf(Since(), 0xBE).empty(); }));
    reader.SetPosition(1050);
    worker.join();
    std::vector<uint8_t> out;
    bool more = false;
    ASSERT_EQ(sink.PullOnce(10 * 2352, out, more), 10u * 2352);
    EXPECT_TRUE(SameBytes(VirtualDiscSectors(1050, 10), out));
    reader.Closed();
}

TEST_F(CDReaderTest, SetPositionStartsTheReadThere) {
    TMMCDReader& reader = NewReader();
    reader.SelectTrack(1);
    reader.SetPosition(1090);
    const std::vector<uint8_t> data = ReadAll(reader, 4096);
    EXPECT_TRUE(SameBytes(VirtualDiscSectors(1090, 9), data));
}

TEST_F(CDReaderTest, ADisabledReaderDeliversSilenceAndAlwaysMoreData) {
    TMMCDReader& reader = NewReader();
    reader.SelectTrack(1);
    reader.SetEnabled(false);
    int before = 0, after = 0;
    reader.OnDataRead = [&](wc::TComponent*) { ++before; };
    reader.OnDataReadEnd = [&](wc::TComponent*) { ++after; };
    testing_support::TestSink& sink = StartReading(reader);
    Mark();
    for (int pull = 0; pull < 3; ++pull) {
        std::vector<uint8_t> out;
        bool more = false;
        EXPECT_EQ(sink.PullOnce(5000, out, more), 5000u);
        EXPECT_TRUE(more);
        EXPECT_EQ(std::count(out.begin(), out.end(), uint8_t(0)), 5000);
    }
    EXPECT_TRUE(CommandsOf(Since(), 0xBE).empty()) << "a disabled reader reads nothing";
    EXPECT_EQ(before, 0);
    EXPECT_EQ(after, 0);
    reader.Closed();
    // Even a reader with nothing opened answers silence and more data.
    std::vector<uint8_t> out;
    bool more = false;
    EXPECT_EQ(sink.PullOnce(100, out, more), 100u);
    EXPECT_TRUE(more);
}

TEST_F(CDReaderTest, ServingARequestFiresTheReadEventsAroundIt) {
    TMMCDReader& reader = NewReader();
    reader.SelectTrack(1);
    std::vector<std::string> events;
    reader.OnDataRead = [&](wc::TComponent* sender) {
        EXPECT_EQ(sender, &reader);
        events.push_back("read");
    };
    reader.OnDataReadEnd = [&](wc::TComponent*) { events.push_back("end"); };
    testing_support::TestSink& sink = StartReading(reader);
    std::vector<uint8_t> out;
    bool more = false;
    sink.PullOnce(3000, out, more);
    EXPECT_TRUE(more);
    EXPECT_EQ(events, (std::vector<std::string>{"read", "end"}));
    reader.Closed();
}

TEST_F(CDReaderTest, AnAbortedReaderDeliversNothingMore) {
    TMMCDReader& reader = NewReader();
    reader.SelectTrack(1);
    testing_support::TestSink& sink = StartReading(reader);
    std::vector<uint8_t> out;
    bool more = false;
    EXPECT_EQ(sink.PullOnce(3000, out, more), 3000u);
    reader.Abort();
    EXPECT_TRUE(reader.Context()->abort);
    // The rest of the block read before the abort is still served.
    out.clear();
    EXPECT_EQ(sink.PullOnce(100000, out, more), 10u * 2352 - 3000);
    EXPECT_FALSE(more);
    reader.Closed();
}

// An abort stayed set in the device layer: the next command that went
// pending gave up at once, so the unlock at the stop, the next table of
// contents and the drive's set-up at the next open all failed.
class CDReaderAbortTest : public CDAudioTest, public ::testing::WithParamInterface<TMMCDCopyMode> {};

TEST_P(CDReaderAbortTest, CommandsAfterAnAbortAreCarriedOut) {
    std::string disc = kDisc;
    disc.insert(disc.find('\n'), " readcd=0");  // no READ CD: MODE SELECT at every raw open
    ASSERT_TRUE(drive_.Describe(disc));
    TMMCDReader& reader = NewReader();
    reader.SetCopyMode(GetParam());
    reader.SelectTrack(1);
    testing_support::TestSink& sink = StartReading(reader);
    std::vector<uint8_t> out;
    bool more = false;
    ASSERT_EQ(sink.PullOnce(3000, out, more), 3000u);
    reader.Abort();
    reader.Stopped();
    EXPECT_EQ(drive_.MediumLocks(), 0) << "the unlock at the stop";
    reader.Closed();
    EXPECT_TRUE(reader.ReadTOC()) << "the next table of contents";
    Mark();
    EXPECT_NO_THROW(reader.Opened()) << "the drive's set-up at the next open";
    EXPECT_EQ(CommandsOf(Since(), 0x15).size(), 1u);
    reader.Closed();
}

INSTANTIATE_TEST_SUITE_P(Modes, CDReaderAbortTest, ::testing::Values(cmNormal, cmSync, cmBurst),
                         [](const ::testing::TestParamInfo<TMMCDCopyMode>& info) {
                             return std::string(info.param == cmNormal ? "Normal" : info.param == cmSync ? "Sync" : "Burst");
                         });

TEST_F(CDReaderTest, OpeningSetsTheSpeedAndStartingLocksTheMedium) {
    TMMCDReader& reader = NewReader();
    reader.SelectTrack(1);
    reader.SetSpeed(8);
    Mark();
    reader.Opened();
    EXPECT_TRUE(reader.ReaderOpened());
    EXPECT_EQ(CommandsOf(Since(), 0xBB), (std::vector<std::string>{"BB 00 00 08 FF FF 00 00 00 00 00 00"}));
    EXPECT_TRUE(CommandsOf(Since(), 0x1E).empty());
    reader.Started();
    EXPECT_TRUE(reader.ReaderStarted());
    EXPECT_EQ(CommandsOf(Since(), 0x1E), (std::vector<std::string>{"1E 00 00 00 01 00"}));
    EXPECT_EQ(CDDrives().LockCount(kDriveLetter), 1);
    reader.Stopped();
    EXPECT_FALSE(reader.ReaderStarted());
    EXPECT_EQ(CommandsOf(Since(), 0x1E), (std::vector<std::string>{"1E 00 00 00 01 00", "1E 00 00 00 00 00"}));
    EXPECT_EQ(CDDrives().LockCount(kDriveLetter), 0);
    reader.Closed();
    EXPECT_FALSE(reader.ReaderOpened());

    // IgnoreSpeed asks for the highest speed.
    reader.SetIgnoreSpeed(true);
    Mark();
    reader.Opened();
    EXPECT_EQ(CommandsOf(Since(), 0xBB), (std::vector<std::string>{"BB 00 FF FF FF FF 00 00 00 00 00 00"}));
    reader.Closed();
}

TEST_F(CDReaderTest, TwoReadersLockADriveOnceAndUnlockItWithTheSecond) {
    TMMCDReader& first = NewReader();
    TMMCDReader& second = NewReader();
    Mark();
    first.LockMedium();
    second.LockMedium();
    EXPECT_EQ(CommandsOf(Since(), 0x1E), (std::vector<std::string>{"1E 00 00 00 01 00"}));
    EXPECT_EQ(CDDrives().LockCount(kDriveLetter), 2);
    first.UnlockMedium();
    EXPECT_EQ(CommandsOf(Since(), 0x1E).size(), 1u) << "the first unlock must leave the medium locked";
    second.UnlockMedium();
    EXPECT_EQ(CommandsOf(Since(), 0x1E), (std::vector<std::string>{"1E 00 00 00 01 00", "1E 00 00 00 00 00"}));
    EXPECT_EQ(CDDrives().LockCount(kDriveLetter), 0);
    // An unlock without a lock of its own takes nothing from the count.
    first.UnlockMedium();
    EXPECT_EQ(CDDrives().LockCount(kDriveLetter), 0);
}

// A lock the drive refused was counted all the same: the count stayed 1, so
// no later lock of that drive reached it.
TEST_F(CDReaderTest, ALockTheDriveRefusedIsNotCountedAndTheDriveStillReads) {
    ASSERT_TRUE(drive_.Describe(std::string(kDisc) + "fail 0x1E 1\n"));
    TMMCDReader& reader = NewReader();
    Mark();
    EXPECT_FALSE(reader.LockMedium());
    EXPECT_EQ(CDDrives().LockCount(kDriveLetter), 0);
    EXPECT_TRUE(reader.LockMedium()) << "the next lock asks the drive again";
    EXPECT_EQ(drive_.MediumLocks(), 1);
    EXPECT_TRUE(reader.UnlockMedium());
    EXPECT_TRUE(reader.UnlockMedium()) << "nothing left to give back";
    EXPECT_EQ(CDDrives().LockCount(kDriveLetter), 0);
    EXPECT_EQ(drive_.MediumLocks(), 0);
    EXPECT_EQ(CommandsOf(Since(), 0x1E),
              (std::vector<std::string>{"1E 00 00 00 01 00", "1E 00 00 00 01 00", "1E 00 00 00 00 00"}));
    reader.SelectTrack(1);
    EXPECT_TRUE(SameBytes(VirtualDiscSectors(1000, 99), ReadAll(reader, 4096)));
}

TEST_F(CDReaderTest, DestroyingALockedReaderGivesItsLocksBack) {
    {
        wc::TComponent owner(nullptr);
        TMMCDReader& reader = wc::MakeComponent<TMMCDReader>(owner);
        reader.SetDeviceID(0);
        reader.LockMedium();
        reader.LockMedium();
        EXPECT_EQ(CDDrives().LockCount(kDriveLetter), 2);
        Mark();
    }
    EXPECT_EQ(CDDrives().LockCount(kDriveLetter), 0);
    EXPECT_EQ(CommandsOf(Since(), 0x1E), (std::vector<std::string>{"1E 00 00 00 00 00"}));
}

TEST_F(CDReaderTest, CDTextFillsTheFirstBlock) {
    TMMCDReader& reader = NewReader();
    ASSERT_TRUE(reader.ReadCDText());
    EXPECT_EQ(reader.CDTextBlockCount(), 1);
    const CDTextBlock& block = *reader.CDText()[0];
    EXPECT_STREQ(block.fields[0][0].data(), "Disc Title");
    EXPECT_STREQ(block.fields[2][0].data(), "Second Song");
    EXPECT_STREQ(block.fields[1][1].data(), "Singer One");
}

TEST_F(CDReaderTest, ADiscWithoutCDTextHasNone) {
    ASSERT_TRUE(drive_.Describe("device 0 0 0 vendor=\"PLEXTOR\" product=\"PX-TEST\"\ntrack 1 0 0\nleadout 500\n"));
    TMMCDReader& reader = NewReader();
    EXPECT_FALSE(reader.ReadCDText());
    EXPECT_EQ(reader.CDTextBlockCount(), 0);
}

}  // namespace
}  // namespace cdaudio_tests
