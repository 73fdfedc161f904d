// The CD-ROM layer in ASPI mode against the virtual drive.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "VirtualDriveFixture.h"
#include "support/TestSupport.h"

namespace {

const char* const kDrives = R"(adapters 2
device 0 1 0 vendor=TOSHIBA product="CD-ROM XM-6702B"
device 0 2 0 type=0 vendor=QUANTUM product="FIREBALL"
device 1 0 3 vendor=NEC product="CD-ROM DRIVE:222"
)";

// Where an audio disc's tracks start: 1, 2, 3 audio, 4 data.
const char* const kEnhancedDisc = R"(track 1 0x00 0
track 2 0x00 20000
track 3 0x02 40000
track 4 0x04 60000
leadout 80000
)";

class AspiScan : public VirtualDriveTest {};

TEST_F(AspiScan, InquiresEveryTargetAndUnitOfEveryAdapterAndKeepsTheCdRomDrivesInOrder) {
    Start(kDrives);
    // Start() marked after cdInit: look at the whole log instead.
    const auto log = drive_.Log();
    ASSERT_EQ(log.size(), 2u * 8 * 8);
    size_t i = 0;
    for (int adapter = 0; adapter < 2; ++adapter)
        for (int target = 0; target < 8; ++target)
            for (int lun = 0; lun < 8; ++lun, ++i) {
                SCOPED_TRACE(i);
                EXPECT_EQ(log[i].adapter, adapter);
                EXPECT_EQ(log[i].target, target);
                EXPECT_EQ(log[i].lun, lun);
                const uint8_t expected[6] = {0x12, uint8_t(lun << 5), 0x00, 0x00, 0x38, 0x00};
                EXPECT_EQ(CdbText(log[i]), Hex(expected, 6));
                EXPECT_EQ(log[i].flags, 0x08 | 0x40);  // data in, event notification
                EXPECT_EQ(log[i].length, 56u);
            }
    ASSERT_EQ(cdGetNumDevices(context_.get()), 2);
    EXPECT_EQ(context_->devices[0].adapter, 0);
    EXPECT_EQ(context_->devices[0].target, 1);
    EXPECT_EQ(context_->devices[1].adapter, 1);
    EXPECT_EQ(context_->devices[1].lun, 3);
}

TEST_F(AspiScan, DeviceNamesJoinVendorAndProductWithoutTrailingBlanks) {
    Start(kDrives);
    char name[64];
    ASSERT_EQ(cdGetDeviceName(context_.get(), 0, name, sizeof(name)), 0);
    EXPECT_STREQ(name, "TOSHIBA - CD-ROM XM-6702B");
    ASSERT_EQ(cdGetDeviceName(context_.get(), 1, name, sizeof(name)), 0);
    EXPECT_STREQ(name, "NEC - CD-ROM DRIVE:222");
    char small[7];
    ASSERT_EQ(cdGetDeviceName(context_.get(), 0, small, sizeof(small)), 0);
    EXPECT_STREQ(small, "TOSHIB");
    EXPECT_EQ(cdGetDeviceName(context_.get(), 2, name, sizeof(name)), CDErrInvalidDevice);
}

TEST_F(AspiScan, InquiryDataShorterThan56BytesLeavesTheRestEmpty) {
    Start("device 0 0 0 vendor=SONY product=\"CDU-76S\" inquirylength=20\n");
    ASSERT_EQ(cdGetNumDevices(context_.get()), 1);
    char name[64];
    ASSERT_EQ(cdGetDeviceName(context_.get(), 0, name, sizeof(name)), 0);
    // The product stops after its fourth byte (bytes 16-19 arrived).
    EXPECT_STREQ(name, "SONY - CDU-");
}

TEST_F(AspiScan, AManagerThatFindsNoAdapterLeavesIoctlModeOnPassThroughSystems) {
    ASSERT_TRUE(drive_.Describe("adapters 0\n"));
    int status = 1;
    bool ioctl = false;
    context_ = cdInit(status, ioctl);
    ASSERT_TRUE(context_);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(ioctl);
    EXPECT_TRUE(context_->ioctlMode);
    EXPECT_FALSE(context_->aspiMode);
}

class AspiSelect : public VirtualDriveTest {};

TEST_F(AspiSelect, SelectingTheSelectedDeviceAnswersInvalidDevice) {
    Start(kDrives);
    ASSERT_EQ(cdSetDevice(context_.get(), 0), 0);
    EXPECT_EQ(cdSetDevice(context_.get(), 0), CDErrInvalidDevice);
    EXPECT_EQ(context_->selected, 0);
}

TEST_F(AspiSelect, AnIndexOutsideTheListAnswersInvalidDeviceAndANegativeOneDeselects) {
    Start(kDrives);
    ASSERT_EQ(cdSetDevice(context_.get(), 1), 0);
    EXPECT_EQ(cdSetDevice(context_.get(), 2), CDErrInvalidDevice);
    EXPECT_EQ(context_->selected, 1);
    EXPECT_EQ(cdSetDevice(context_.get(), -1), CDErrInvalidDevice);
    EXPECT_EQ(context_->selected, -2);
    EXPECT_EQ(cdOpen(context_.get(), true), CDErrInvalidDevice);
}

TEST_F(AspiSelect, SelectingADeviceResetsTheDriveSettingsUntilItIsOpenedRaw) {
    Start(kDrives);
    ASSERT_EQ(cdSetDevice(context_.get(), 0), 0);
    ASSERT_EQ(cdSetDriveType(context_.get(), 22, false), 0);  // TOSHIBA
    ASSERT_EQ(cdOpen(context_.get(), true), 0);
    EXPECT_EQ(context_->sectorSize, 2368);
    EXPECT_EQ(context_->readMethod, rmRead10);
    ASSERT_EQ(cdClose(context_.get()), 0);
    Mark();
    ASSERT_EQ(cdSetDevice(context_.get(), 1), 0);
    EXPECT_EQ(context_->sectorSize, 2352);
    EXPECT_EQ(context_->readMethod, rmReadCD);
    EXPECT_FALSE(context_->byteSwap);
    EXPECT_FALSE(context_->typeTested);
    EXPECT_TRUE(Since().empty()) << "selecting sends nothing to the drive";
}

TEST_F(AspiSelect, OpeningTwiceAnswersAlreadyOpen) {
    Start(kDrives);
    ASSERT_EQ(cdSetDevice(context_.get(), 0), 0);
    ASSERT_EQ(cdOpen(context_.get(), true), 0);
    EXPECT_TRUE(context_->firstRead);
    EXPECT_EQ(cdOpen(context_.get(), true), CDErrAlreadyOpen);
    ASSERT_EQ(cdClose(context_.get()), 0);
    EXPECT_FALSE(context_->opened);
}

// One drive of a make, opened raw with the auto-detected type.
struct VendorCase {
    const char* name;
    const char* device;  // the "device" line
    int type;            // drive type set before opening
    int sectorSize;
    bool byteSwap;
    CDReadMethod method;
    const char* modeList;  // the MODE SELECT data, or null when none is sent
    const char* readCdb;   // the read of sectors 1000-1002
};

const VendorCase kVendors[] = {
    {"Toshiba", "device 0 0 0 vendor=TOSHIBA product=\"CD-ROM XM-6702B\" readcd=0", 0, 2368, false, rmRead10,
     "00 00 00 08 82 00 00 00 00 00 09 40", "28 00 00 00 03 E8 00 00 03 00"},
    {"PhilipsMs", "device 0 0 0 vendor=PHILIPS product=\"MS-CD 12\" readcd=0", 0, 2352, false, rmRead10,
     "00 00 00 08 00 00 00 00 00 00 09 30", "28 00 00 00 03 E8 00 00 03 00"},
    {"Philips", "device 0 0 0 vendor=PHILIPS product=\"CDD2600\" readcd=0 bigendian=1", 0, 2352, true, rmRead10,
     "00 00 00 08 00 00 00 00 00 00 09 30", "28 00 00 00 03 E8 00 00 03 00"},
    {"Nec", "device 0 0 0 vendor=NEC product=\"CD-ROM DRIVE:222\" readcd=0", 0, 2352, false, rmVendorD4,
     "00 00 00 08 00 00 00 00 00 00 09 30", "D4 00 00 00 03 E8 00 00 03 00"},
    {"Sony", "device 0 0 0 vendor=SONY product=\"CDU-76S\" readcd=0", 0, 2352, false, rmVendorD8,
     "00 00 00 08 00 00 00 00 00 00 09 30", "D8 00 00 00 03 E8 00 00 00 03 00 00"},
    {"Plextor", "device 0 0 0 vendor=PLEXTOR product=\"CD-ROM PX-40TS\" readcd=0", 0, 2352, false, rmVendorD8,
     "00 00 00 08 00 00 00 00 00 00 09 30", "D8 00 00 00 03 E8 00 00 00 03 00 00"},
    {"RicohByType", "device 0 0 0 vendor=ACME product=\"WRITER\" readcd=0 bigendian=1", 20, 2352, true, rmVendorD8,
     "00 00 00 08 00 00 00 00 00 00 09 30", "D8 00 00 00 03 E8 00 00 00 03 00 00"},
    {"GenericAnsweringReadCd", "device 0 0 0 vendor=GENERIC product=\"DVD-ROM 16X\" readcd=1", 0, 2352, false,
     rmReadCD, nullptr, "BE 04 00 00 03 E8 00 00 03 F0 00 00"},
    {"OldRefusingReadCd", "device 0 0 0 vendor=OLDCD product=\"CR-563\" readcd=0", 0, 2352, false, rmReadCD,
     "00 00 00 08 00 00 00 00 00 00 09 30", nullptr},
    {"AtapiByType", "device 0 0 0 vendor=TOSHIBA product=\"DVD-ROM SD-M1802\" readcd=1", 1, 2352, false, rmReadCD,
     nullptr, "BE 04 00 00 03 E8 00 00 03 F0 00 00"},
};

class AspiVendor : public VirtualDriveTest, public ::testing::WithParamInterface<VendorCase> {};

TEST_P(AspiVendor, OpeningRawSetsTheDriveUpByItsMakeAndReadsTheGeneratedSamples) {
    const VendorCase& c = GetParam();
    Start(std::string(c.device) + "\n" + kEnhancedDisc);
    ASSERT_EQ(cdSetDevice(context_.get(), 0), 0);
    ASSERT_EQ(cdSetDriveType(context_.get(), c.type, false), 0);
    Mark();
    ASSERT_EQ(cdOpen(context_.get(), true), 0);
    EXPECT_EQ(context_->sectorSize, c.sectorSize);
    EXPECT_EQ(context_->byteSwap, c.byteSwap);
    EXPECT_EQ(context_->readMethod, c.method);
    std::vector<VirtualDriveLogRecord> setup = Since();
    if (c.type == CDTypeAutoDetect) {
        // The probe: READ CD of one sector at sector 0 (no TOC read yet).
        ASSERT_FALSE(setup.empty());
        EXPECT_EQ(CdbText(setup[0]), "BE 04 00 00 00 00 00 00 01 F0 00 00");
        EXPECT_EQ(setup[0].length, 2352u);
        setup.erase(setup.begin());
    }
    if (c.modeList) {
        ASSERT_EQ(setup.size(), 1u);
        EXPECT_EQ(CdbText(setup[0]), "15 10 00 00 0C 00");
        EXPECT_EQ(setup[0].flags, 0x10 | 0x40);  // data out
        EXPECT_EQ(setup[0].length, 12u);
        EXPECT_EQ(Hex(setup[0].dataOut, 12), c.modeList);
    } else {
        EXPECT_TRUE(setup.empty()) << "no MODE SELECT for a drive set up for READ CD";
    }
    if (!c.readCdb) return;
    std::vector<uint8_t> buffer(3 * 2368, 0);
    Mark();
    ASSERT_EQ(cdReadSectorsOnce(context_.get(), buffer.data(), int64_t(buffer.size()), 1000, 3), 0);
    const auto reads = Since();
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(CdbText(reads[0]), c.readCdb);
    EXPECT_EQ(reads[0].length, uint32_t(3 * c.sectorSize));
    EXPECT_EQ(reads[0].flags, 0x08 | 0x40);
    EXPECT_TRUE(SameBytes(VirtualDiscSectors(1000, 3), buffer.data(), buffer.size()));
}

INSTANTIATE_TEST_SUITE_P(Makes, AspiVendor, ::testing::ValuesIn(kVendors),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AspiSelect, EveryCommandCarriesTheUnitsLogicalUnitInByteOne) {
    Start(std::string("device 0 2 5 vendor=NEC product=\"CDR-900\"\n") + kEnhancedDisc);
    ASSERT_EQ(cdSetDevice(context_.get(), 0), 0);
    ASSERT_EQ(cdSetDriveType(context_.get(), 14, false), 0);
    ASSERT_EQ(cdOpen(context_.get(), true), 0);
    std::vector<uint8_t> buffer(2352);
    ASSERT_EQ(cdReadSectorsOnce(context_.get(), buffer.data(), int64_t(buffer.size()), 7, 1), 0);
    ASSERT_EQ(cdLockDevice(context_.get(), true), 0);
    const auto log = Since();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(CdbText(log[0]), "15 B0 00 00 0C 00");
    EXPECT_EQ(CdbText(log[1]), "D4 A0 00 00 00 07 00 00 01 00");
    EXPECT_EQ(CdbText(log[2]), "1E A0 00 00 01 00");
    for (const auto& record : log) {
        EXPECT_EQ(record.target, 2);
        EXPECT_EQ(record.lun, 5);
    }
}

class AspiCommands : public VirtualDriveTest {
protected:
    void Open(const std::string& device = "device 0 0 0 vendor=PLEXTOR product=\"CD-ROM PX-40TS\"",
              int type = CDTypeInitial) {
        Start(device + "\n" + kEnhancedDisc);
        ASSERT_EQ(cdSetDevice(context_.get(), 0), 0);
        ASSERT_EQ(cdSetDriveType(context_.get(), type, false), 0);
        ASSERT_EQ(cdOpen(context_.get(), true), 0);
        Mark();
    }
};

TEST_F(AspiCommands, SetSpeedSendsSetCdSpeedOnlyWhenTheSpeedChanges) {
    Open();
    ASSERT_EQ(cdSetSpeed(context_.get(), 0x02C2), 0);
    ASSERT_EQ(cdSetSpeed(context_.get(), 0x02C2), 0);
    ASSERT_EQ(cdSetSpeed(context_.get(), 0xFFFF), 0);
    const auto log = Since();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(CdbText(log[0]), "BB 00 02 C2 FF FF 00 00 00 00 00 00");
    EXPECT_EQ(log[0].flags, 0x40);  // no data
    EXPECT_EQ(log[0].length, 0u);
    EXPECT_EQ(CdbText(log[1]), "BB 00 FF FF FF FF 00 00 00 00 00 00");
}

TEST_F(AspiCommands, LockAndUnlockSendPreventAllowMediumRemoval) {
    Open();
    ASSERT_EQ(cdLockDevice(context_.get(), true), 0);
    ASSERT_EQ(cdLockDevice(context_.get(), false), 0);
    const auto log = Since();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(CdbText(log[0]), "1E 00 00 00 01 00");
    EXPECT_EQ(CdbText(log[1]), "1E 00 00 00 00 00");
    EXPECT_EQ(log[1].flags, 0x40);
}

TEST_F(AspiCommands, AFailingLockAnswersUnableToLock) {
    Open();
    ASSERT_TRUE(drive_.Describe(std::string("device 0 0 0 vendor=PLEXTOR product=\"X\"\nfail 0x1E 1\n")));
    EXPECT_EQ(cdLockDevice(context_.get(), true), CDErrLock);
}

TEST_F(AspiCommands, ReadTocSendsReadTocAndShortensTheAudioTrackBeforeTheDataTrack) {
    Open();
    CDTrackList toc;
    ASSERT_EQ(cdReadTOC(context_.get(), toc), 0);
    const auto log = Since();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(CdbText(log[0]), "43 00 00 00 00 00 00 03 24 00");
    EXPECT_EQ(log[0].length, 804u);
    EXPECT_EQ(log[0].flags, 0x48);
    ASSERT_EQ(toc.count, 4);
    // Track 1 starts at 00:02:00 (150 frames), 20000 frames = 04:26:50.
    EXPECT_EQ(toc.tracks[0].number, 1);
    EXPECT_EQ(toc.tracks[0].start, 0x000200u);
    EXPECT_EQ(toc.tracks[0].length, 0x321A04u);  // 4 min 26 s 50 frames
    EXPECT_EQ(toc.tracks[0].audio, 1);
    EXPECT_EQ(toc.tracks[0].copyProhibited, 1);
    // Track 3: 20000 frames less the 11400-frame gap = 8600 = 01:54:50.
    EXPECT_EQ(toc.tracks[2].length, 0x323601u);
    EXPECT_EQ(toc.tracks[2].copyProhibited, 0);  // control 0x02: copying allowed
    // Track 4 is data: 60150 frames = 13:22:00.
    EXPECT_EQ(toc.tracks[3].start, 0x00160Du);
    EXPECT_EQ(toc.tracks[3].audio, 0);
    EXPECT_EQ(context_->firstAudioSector, 0);
    EXPECT_EQ(context_->audioEnd, 48600);
}

TEST_F(AspiCommands, AnAudioTrackBeforeDataNoLongerThanTheGapKeepsItsLength) {
    Start("device 0 0 0 vendor=PLEXTOR product=X\ntrack 1 0 0\ntrack 2 0 20000\ntrack 3 4 31400\nleadout 50000\n");
    ASSERT_EQ(cdSetDevice(context_.get(), 0), 0);
    CDTrackList toc;
    ASSERT_EQ(cdReadTOC(context_.get(), toc), 0);
    ASSERT_EQ(toc.count, 3);
    EXPECT_EQ(CDMSFToFrames(toc.tracks[1].length), 11400u);
}

TEST_F(AspiCommands, TheAutoDetectProbeReadsTheFirstAudioSectorOfTheLastToc) {
    Start("device 0 0 0 vendor=GENERIC product=X\ntrack 1 4 0\ntrack 2 0 3000\nleadout 9000\n");
    ASSERT_EQ(cdSetDevice(context_.get(), 0), 0);
    CDTrackList toc;
    ASSERT_EQ(cdReadTOC(context_.get(), toc), 0);
    EXPECT_EQ(context_->firstAudioSector, 3000);
    ASSERT_EQ(cdSetDriveType(context_.get(), CDTypeAutoDetect, false), 0);
    Mark();
    ASSERT_EQ(cdOpen(context_.get(), true), 0);
    const auto log = Since();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(CdbText(log[0]), "BE 04 00 00 0B B8 00 00 01 F0 00 00");
    EXPECT_TRUE(context_->mmcCapable);
}

struct BadToc {
    const char* name;
    const char* description;
};
const BadToc kBadTocs[] = {
    {"FirstTrackAboveLast", "tocraw 00 12 05 02 00 10 01 00 00 00 00 00 00 10 02 00 00 00 10 00 00 14 AA 00 00 00 20 00"},
    {"NoTracks", "tocraw 00 0A 00 00 00 14 AA 00 00 00 20 00"},
    {"LbaBeyondTheLeadOut", "track 1 0 0\ntrack 2 0 90000\nleadout 80000"},
    {"CutBeforeTheLastEntry", "tocraw 00 0A 01 03 00 10 01 00 00 00 00 00"},
};

class AspiBadToc : public AspiCommands, public ::testing::WithParamInterface<BadToc> {};

TEST_P(AspiBadToc, AnswersDeviceNotReadyWithAnEmptyList) {
    Start(std::string("device 0 0 0 vendor=PLEXTOR product=X\n") + GetParam().description + "\n");
    ASSERT_EQ(cdSetDevice(context_.get(), 0), 0);
    CDTrackList toc;
    toc.count = 7;
    EXPECT_EQ(cdReadTOC(context_.get(), toc), CDErrNotReady);
    EXPECT_EQ(toc.count, 0);
}

INSTANTIATE_TEST_SUITE_P(Drives, AspiBadToc, ::testing::ValuesIn(kBadTocs),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AspiCommands, ATocOfMoreThan99EntriesKeeps99Tracks) {
    std::string description = "device 0 0 0 vendor=PLEXTOR product=X\n";
    for (int t = 1; t <= 120; ++t) description += "track " + std::to_string(t) + " 0 " + std::to_string(t * 100) + "\n";
    description += "leadout 20000\n";
    Start(description);
    ASSERT_EQ(cdSetDevice(context_.get(), 0), 0);
    CDTrackList toc;
    ASSERT_EQ(cdReadTOC(context_.get(), toc), 0);
    EXPECT_EQ(toc.count, 99);
    EXPECT_EQ(toc.tracks[98].number, 99);
    EXPECT_EQ(CDMSFToFrames(toc.tracks[98].length), 100u);
}

TEST_F(AspiCommands, ReadCdTextAsksForTheLengthThenForThePacksAndFillsBothBlocks) {
    Start(std::string("device 0 0 0 vendor=PLEXTOR product=X\n") + kEnhancedDisc +
          "cdtext 0 0x80 \"Disc Title  \" \"First Song\" \"Second\" \"Third one is longer than twelve\"\n"
          "cdtext 0 0x81 \"The Band\" \"Singer\"\n"
          "cdtext 1 0x80 \"Titre\" \"Chanson\"\n");
    ASSERT_EQ(cdSetDevice(context_.get(), 0), 0);
    CDTextInfo text;
    ASSERT_EQ(cdReadCDText(context_.get(), text), 0);
    const auto log = Since();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(CdbText(log[0]), "43 00 05 00 00 00 00 00 04 00");
    EXPECT_EQ(log[0].length, 4u);
    // Block 0: the 0x80 items make 63 bytes (6 packs), the 0x81 items 16
    // (2 packs); block 1: 14 bytes (2 packs). 10 packs of 18 bytes and 2
    // more bytes make the length field 182; the second request asks 186.
    EXPECT_EQ(CdbText(log[1]), "43 00 05 00 00 00 00 00 BA 00");
    EXPECT_EQ(log[1].length, 186u);
    ASSERT_TRUE(text[0]);
    ASSERT_TRUE(text[1]);
    EXPECT_FALSE(text[2]);
    EXPECT_STREQ(text[0]->fields[0][0].data(), "Disc Title");
    EXPECT_STREQ(text[0]->fields[1][0].data(), "First Song");
    EXPECT_STREQ(text[0]->fields[3][0].data(), "Third one is longer than twelve");
    EXPECT_STREQ(text[0]->fields[0][1].data(), "The Band");
    EXPECT_STREQ(text[0]->fields[1][1].data(), "Singer");
    EXPECT_STREQ(text[1]->fields[0][0].data(), "Titre");
    EXPECT_STREQ(text[1]->fields[1][0].data(), "Chanson");
}

// Raw CD-Text answers and the titles (pack type 0x80) of block 0 they give.
struct RawCdText {
    const char* name;
    const char* packs;  // the answer, from its length field on
    std::vector<const char*> titles;  // disc, track 1, track 2, ...
};
const RawCdText kRawCdTexts[] = {
    // Length field 0x1E = 30: the header's rest, one pack and 10 bytes of the next.
    {"CutInsideAPackParsesOnlyTheWholePacks",
     "00 1E 00 00 80 00 00 00 41 6C 62 75 6D 00 53 6F 6E 67 00 00 00 00 80 00 01 00 4C 61 73 74 00 00",
     {"Album", "Song", ""}},
    // An extension pack (0x80 in byte 1) with "XX", then "Ok" for the disc.
    {"ExtensionPacksAreSkipped",
     "00 26 00 00 80 80 00 00 58 58 00 00 00 00 00 00 00 00 00 00 00 00 "
     "80 00 01 00 4F 6B 00 00 00 00 00 00 00 00 00 00 00 00",
     {"Ok"}},
};

class AspiRawCdText : public AspiCommands, public ::testing::WithParamInterface<RawCdText> {};

TEST_P(AspiRawCdText, GivesTheTitlesOfTheWholePacks) {
    Start(std::string("device 0 0 0 vendor=PLEXTOR product=X\ncdtextraw ").append(GetParam().packs).append("\n"));
    ASSERT_EQ(cdSetDevice(context_.get(), 0), 0);
    CDTextInfo text;
    ASSERT_EQ(cdReadCDText(context_.get(), text), 0);
    ASSERT_TRUE(text[0]);
    for (size_t i = 0; i < GetParam().titles.size(); ++i)
        EXPECT_STREQ(text[0]->fields[i][0].data(), GetParam().titles[i]) << "title " << i;
}

INSTANTIATE_TEST_SUITE_P(Answers, AspiRawCdText, ::testing::ValuesIn(kRawCdTexts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AspiCommands, CdTextWhoseLengthFieldExceedsWhatArrivesStaysInsideTheBuffer) {
    Start(std::string("device 0 0 0 vendor=PLEXTOR product=X\n") +
          "cdtextraw FF FE 00 00 80 00 00 10 41 00 00 00 00 00 00 00 00 00 00 00 00 00\n");
    ASSERT_EQ(cdSetDevice(context_.get(), 0), 0);
    CDTextInfo text;
    ASSERT_EQ(cdReadCDText(context_.get(), text), 0);
    const auto log = Since();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].length, 0xFFFFu) << "the allocation length field holds 16 bits";
    ASSERT_TRUE(text[1]);
    EXPECT_STREQ(text[1]->fields[0][0].data(), "A");
    EXPECT_FALSE(text[0]) << "the zero bytes behind the answer are no packs";
}

class AspiReads : public AspiCommands {};

// Makes whose sectors the layer converts: Toshiba's 2368-byte sectors arrive
// compacted to 2352, a byte-swapping make's big-endian samples in host order.
struct ConvertingMake {
    const char* name;
    const char* device;
    int sectorSize;
    bool byteSwap;
    int first, count;  // the sectors read
};
const ConvertingMake kConvertingMakes[] = {
    {"ToshibaSectorsOf2368BytesArriveCompacted", "device 0 0 0 vendor=TOSHIBA product=\"CD-ROM XM-6702B\" readcd=0",
     2368, false, 4321, 10},
    {"BigEndianSamplesArriveInHostOrder", "device 0 0 0 vendor=HP product=\"C4324/C4325\" readcd=0 bigendian=1", 2352,
     true, 99, 5},
};

class AspiConvertingMake : public AspiCommands, public ::testing::WithParamInterface<ConvertingMake> {};

TEST_P(AspiConvertingMake, DeliversTheDiscsSectors) {
    const ConvertingMake& c = GetParam();
    Open(c.device, CDTypeAutoDetect);
    ASSERT_EQ(context_->sectorSize, c.sectorSize);
    ASSERT_EQ(context_->byteSwap, c.byteSwap);
    std::vector<uint8_t> buffer(size_t(c.count) * size_t(c.sectorSize), 0x55);  // room for the drive's sectors
    ASSERT_EQ(cdReadSectorsOnce(context_.get(), buffer.data(), int64_t(buffer.size()), c.first, c.count), 0);
    EXPECT_TRUE(SameBytes(VirtualDiscSectors(c.first, c.count), buffer.data(), buffer.size()));
}

INSTANTIATE_TEST_SUITE_P(Makes, AspiConvertingMake, ::testing::ValuesIn(kConvertingMakes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AspiReads, ABufferTooSmallForTheDrivesSectorsIsRefusedBeforeAnyCommand) {
    Open("device 0 0 0 vendor=TOSHIBA product=\"CD-ROM XM-6702B\" readcd=0", CDTypeAutoDetect);
    std::vector<uint8_t> buffer(2 * 2352);
    EXPECT_EQ(cdReadSectorsOnce(context_.get(), buffer.data(), int64_t(buffer.size()), 0, 2), CDErrInvalidParam);
    EXPECT_EQ(cdReadSectorsOnce(context_.get(), buffer.data(), int64_t(buffer.size()), 0, 0), CDErrInvalidParam);
    EXPECT_EQ(cdReadSectorsOnce(context_.get(), buffer.data(), int64_t(buffer.size()), 0, 256), CDErrInvalidParam);
    EXPECT_TRUE(Since().empty());
}

TEST_F(AspiReads, AFailedReadIsTriedAgainAfterTheFirstRead) {
    Open();
    CDTrackList toc;
    ASSERT_EQ(cdReadTOC(context_.get(), toc), 0);
    std::vector<uint8_t> buffer(4 * 2352);
    ASSERT_EQ(cdReadSectors(context_.get(), buffer.data(), int64_t(buffer.size()), 10, 4), 0);
    EXPECT_FALSE(context_->firstRead);
    ASSERT_TRUE(drive_.Describe(std::string("device 0 0 0 vendor=PLEXTOR product=X\n") + kEnhancedDisc +
                                "fail 0xD8 1\nfail 0xD8 2\n"));
    Mark();
    ASSERT_EQ(cdReadSectors(context_.get(), buffer.data(), int64_t(buffer.size()), 500, 4), 0);
    EXPECT_EQ(Since().size(), 3u);
    EXPECT_TRUE(SameBytes(VirtualDiscSectors(500, 4), buffer.data(), buffer.size()));
}

TEST_F(AspiReads, TheFirstReadAfterOpeningIsNotRetried) {
    Open();
    CDTrackList toc;
    ASSERT_EQ(cdReadTOC(context_.get(), toc), 0);
    ASSERT_TRUE(drive_.Describe(std::string("device 0 0 0 vendor=PLEXTOR product=X\n") + kEnhancedDisc +
                                "fail 0xD8 1\n"));
    Mark();
    std::vector<uint8_t> buffer(4 * 2352);
    EXPECT_EQ(cdReadSectors(context_.get(), buffer.data(), int64_t(buffer.size()), 10, 4), CDErrRead);
    EXPECT_EQ(Since().size(), 1u);
    EXPECT_FALSE(context_->firstRead);
}

TEST_F(AspiReads, TwentyFailuresAnswerUnableToReadWithTheLastAttemptOneSectorShorter) {
    Open();
    CDTrackList toc;
    ASSERT_EQ(cdReadTOC(context_.get(), toc), 0);
    context_->firstRead = false;
    const std::string failures = FailedReads(1, 20);
    ASSERT_TRUE(drive_.Describe(std::string("device 0 0 0 vendor=PLEXTOR product=X\n") + kEnhancedDisc + failures));
    Mark();
    std::vector<uint8_t> buffer(4 * 2352, 0x77);
    EXPECT_EQ(cdReadSectors(context_.get(), buffer.data(), int64_t(buffer.size()), 10, 4), CDErrRead);
    const auto log = Since();
    ASSERT_EQ(log.size(), 20u);
    EXPECT_EQ(log[18].cdb[9], 4);
    EXPECT_EQ(log[19].cdb[9], 3);
    EXPECT_EQ(buffer[0], 0) << "the buffer is zeroed before the last attempt";
    EXPECT_EQ(buffer[4 * 2352 - 1], 0);
}

TEST_F(AspiReads, ReadsAtTheEndOfTheAudioAreaAreZeroedAndShortened) {
    Open();
    CDTrackList toc;
    ASSERT_EQ(cdReadTOC(context_.get(), toc), 0);
    ASSERT_EQ(context_->audioEnd, 48600);
    context_->firstRead = false;
    Mark();
    std::vector<uint8_t> buffer(4 * 2352, 0x77);
    ASSERT_EQ(cdReadSectors(context_.get(), buffer.data(), int64_t(buffer.size()), 48595, 4), 0);
    const auto log = Since();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].cdb[9], 3);  // 48600 - 48595 - 2
    EXPECT_TRUE(SameBytes(VirtualDiscSectors(48595, 3), buffer.data(), buffer.size()));
    EXPECT_EQ(buffer[3 * 2352], 0);
    EXPECT_EQ(buffer[4 * 2352 - 1], 0);
}

TEST_F(AspiReads, AShiftedReadDeliversTheStreamFromItsShiftedPosition) {
    Open();
    ASSERT_TRUE(drive_.Describe(std::string("device 0 0 0 vendor=PLEXTOR product=X\n") + kEnhancedDisc +
                                "shift 2 -588\n"));
    std::vector<uint8_t> first(2 * 2352), second(2 * 2352);
    ASSERT_EQ(cdReadSectorsOnce(context_.get(), first.data(), int64_t(first.size()), 700, 2), 0);
    ASSERT_EQ(cdReadSectorsOnce(context_.get(), second.data(), int64_t(second.size()), 700, 2), 0);
    EXPECT_TRUE(SameBytes(VirtualDiscSectors(700, 2), first.data(), first.size()));
    EXPECT_TRUE(SameBytes(VirtualDiscSectors(700, 2, -588), second.data(), second.size()));
    EXPECT_NE(first, second);
}

// A request's end waited for on its completion event or, without one, polled.
class AspiWaits : public AspiCommands, public ::testing::WithParamInterface<bool> {
protected:
    bool Polled() const { return GetParam(); }
    // Opens the drive, which then answers as `behaviour` says.
    void OpenAnswering(const char* behaviour) {
        Open();
        if (Polled()) context_->completionEvent.reset();
        ASSERT_TRUE(drive_.Describe(
            std::string("device 0 0 0 vendor=PLEXTOR product=X\n").append(kEnhancedDisc).append(behaviour)));
        Mark();
    }
};

TEST_P(AspiWaits, APendingRequestCompletes) {
    OpenAnswering("pending 60\n");
    std::vector<uint8_t> buffer(2 * 2352);
    ASSERT_EQ(cdReadSectorsOnce(context_.get(), buffer.data(), int64_t(buffer.size()), 321, 2), 0);
    EXPECT_TRUE(SameBytes(VirtualDiscSectors(321, 2), buffer.data(), buffer.size()));
    EXPECT_FALSE(context_->busy);
    const auto log = Since();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].flags, Polled() ? 0x08 : 0x08 | 0x40) << "event notification is asked only with an event";
}

TEST_P(AspiWaits, AbortEndsTheWaitOfARequestThatNeverCompletes) {
    OpenAnswering("never 0xD8\n");
    std::vector<uint8_t> buffer(2352);
    CDDeviceContext* context = context_.get();
    std::thread aborter([context] {
        testing_support::WaitUntil([context] { return context->busy.load(); });
        ::Sleep(50);
        cdAbort(context);
    });
    const DWORD started = ::GetTickCount();
    const int status = cdReadSectorsOnce(context, buffer.data(), int64_t(buffer.size()), 0, 1);
    const DWORD elapsed = ::GetTickCount() - started;
    aborter.join();
    EXPECT_EQ(status, CDErrTimeout);
    EXPECT_LT(elapsed, 5000u) << "abort ends the wait long before its ten seconds (9999 ms when polled)";
}

INSTANTIATE_TEST_SUITE_P(EventOrPolled, AspiWaits, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Polled" : "Event"; });

TEST_F(AspiCommands, ARequestThatNeverCompletesTimesOutAfterTenSeconds) {
    Open();
    ASSERT_TRUE(drive_.Describe(std::string("device 0 0 0 vendor=PLEXTOR product=X\n") + kEnhancedDisc + "never 0x43\n"));
    CDTrackList toc;
    const DWORD started = ::GetTickCount();
    EXPECT_EQ(cdReadTOC(context_.get(), toc), CDErrTimeout);
    const DWORD elapsed = ::GetTickCount() - started;
    EXPECT_GE(elapsed, 9900u);
    EXPECT_LT(elapsed, 15000u);
    EXPECT_FALSE(context_->busy);
}

TEST(CDErrorText, CodesHaveTheirTextsUnknownOnesSayUnknownAndTheTextIsCutToTheBuffer) {
    const std::pair<int, const char*> texts[] = {
        {0, ""},
        {-1, "Device not open"},
        {-2, "Invalid Handle"},
        {-4, "Invalid DeviceID"},
        {-104, "Invalid DeviceID"},
        {-16, "Synchronisation failed"},
        {-101, "Could not load WNASPI32.DLL"},
        {-105, "Timeout during ASPI-call"},
    };
    for (const auto& [code, expected] : texts) {
        char text[64] = "x";
        EXPECT_EQ(cdGetErrorText(code, text, sizeof(text)), 0) << code;
        EXPECT_STREQ(text, expected) << code;
    }
    char text[64];
    for (int unknown : {-17, -100, -200, 1, -106}) {
        EXPECT_EQ(cdGetErrorText(unknown, text, sizeof(text)), -100) << unknown;
        EXPECT_STREQ(text, "Unknown error code");
    }
    char small[7];
    ASSERT_EQ(cdGetErrorText(-15, small, sizeof(small)), 0);
    EXPECT_STREQ(small, "Unable");
}

TEST_F(AspiCommands, DoneClearsTheCallersReference) {
    Open();
    EXPECT_EQ(cdDone(context_), 0);
    EXPECT_FALSE(context_);
}

}  // namespace
