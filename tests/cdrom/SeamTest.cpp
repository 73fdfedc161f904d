// The CD-ROM layer's start-up, pass-through emulation, IOCTL mode and MCI
// use, through a scripted platform.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

#include "FakePlatform.h"
#include "framework/Components.h"
#include "media/cd/MMCDRead.h"
#include "support/DialogDriver.h"
#include "support/TestSupport.h"
#include "media/cd/MMASPI.h"
#include "media/cd/MMDDK.h"
#include "media/cd/MMSCSI.h"

namespace {

class SeamTest : public ::testing::Test {
protected:
    void SetUp() override { CDSetPlatform(&fake_); }
    void TearDown() override {
        cdDone(context_);
        CDSetPlatform(nullptr);
    }
    int Init(bool ioctlPreferred) {
        int status = 1;
        ioctl_ = ioctlPreferred;
        context_ = cdInit(status, ioctl_);
        return status;
    }
    FakePlatform fake_;
    CDDeviceHandle context_;
    bool ioctl_ = false;
};

// An ASPI manager with one adapter and a CD-ROM drive at target 3.
void AnswerLikeAManager(FakePlatform& fake, const char* vendor = "PLEXTOR ", const char* product = "CD-R   PX-W4012A") {
    fake.supportInfo = [] { return DWORD(0x0101); };
    fake.send = [vendor, product](void* request) -> DWORD {
        auto* srb = static_cast<SRB_ExecSCSICmd*>(request);
        if (srb->SRB_Cmd != SC_EXEC_SCSI_CMD) return srb->SRB_Status = SS_COMP;
        if (srb->SRB_Target != 3 || srb->SRB_Lun != 0) return srb->SRB_Status = SS_NO_DEVICE;
        if (srb->CDBByte[0] == 0x12) {
            std::memset(srb->SRB_BufPointer, 0, srb->SRB_BufLen);
            srb->SRB_BufPointer[0] = 5;
            std::memcpy(srb->SRB_BufPointer + 8, vendor, 8);
            std::memcpy(srb->SRB_BufPointer + 16, product, 16);
        }
        return srb->SRB_Status = SS_COMP;
    };
}

TEST_F(SeamTest, TheManagersAreTriedInOrderUnderTheQuietErrorModeWithTheirEntryPointNames) {
    fake_.libraries["C2ASPI.DLL"] = {"SendASPI32Command"};
    fake_.libraries["ASAPI.DLL"] = {"SendASAPI32Command", "GetASAPI32SupportInfo"};
    AnswerLikeAManager(fake_);
    ASSERT_EQ(Init(false), 0);
    ASSERT_EQ(fake_.loads.size(), 3u);
    EXPECT_EQ(fake_.loads[0].first, "WNASPI32.DLL");
    EXPECT_EQ(fake_.loads[1].first, "C2ASPI.DLL");
    EXPECT_EQ(fake_.loads[2].first, "ASAPI.DLL");
    for (const auto& load : fake_.loads) EXPECT_EQ(load.second, 0x8001u) << load.first;
    EXPECT_EQ(fake_.errorMode, 0u) << "the error mode is put back";
    const std::vector<std::string> asked = {"SendASPI32Command", "GetASPI32SupportInfo", "SendASAPI32Command",
                                            "GetASAPI32SupportInfo"};
    EXPECT_EQ(fake_.procsAsked, asked);
    EXPECT_EQ(fake_.freed, std::vector<std::string>{"C2ASPI.DLL"});
    EXPECT_TRUE(context_->aspiMode);
    EXPECT_FALSE(ioctl_);
    EXPECT_EQ(cdGetNumDevices(context_.get()), 1);
    char name[64];
    ASSERT_EQ(cdGetDeviceName(context_.get(), 0, name, sizeof(name)), 0);
    EXPECT_STREQ(name, "PLEXTOR - CD-R   PX-W4012A");
}

TEST_F(SeamTest, TheBoundManagerStaysForTheProcess) {
    fake_.libraries["WNASPI32.DLL"] = {"SendASPI32Command", "GetASPI32SupportInfo"};
    AnswerLikeAManager(fake_);
    ASSERT_EQ(Init(false), 0);
    cdDone(context_);
    ASSERT_EQ(Init(false), 0);
    EXPECT_EQ(fake_.loads.size(), 1u);
}

TEST_F(SeamTest, PreferringIoctlOnTheNtFamilyLoadsNoManager) {
    fake_.libraries["WNASPI32.DLL"] = {"SendASPI32Command", "GetASPI32SupportInfo"};
    fake_.logicalDrives = (1 << 2) | (1 << 3) | (1 << 5);
    fake_.driveTypes = {{'C', DRIVE_FIXED}, {'D', DRIVE_CDROM}, {'F', DRIVE_CDROM}};
    ASSERT_EQ(Init(true), 0);
    EXPECT_TRUE(fake_.loads.empty());
    EXPECT_TRUE(ioctl_);
    EXPECT_TRUE(context_->ioctlMode);
    EXPECT_EQ(cdGetNumDevices(context_.get()), 2);
    char letter = 0;
    ASSERT_EQ(cdGetDriveLetter(context_.get(), 1, letter), 0);
    EXPECT_EQ(letter, 'F');
    ASSERT_EQ(cdSetDevice(context_.get(), 1), 0);
    EXPECT_EQ(context_->driveLetter, 'F');
}

TEST_F(SeamTest, WithoutManagerOrPassThroughNoModeIsEnteredAndTheLibraryIsMissed) {
    fake_.passThrough = false;
    EXPECT_EQ(Init(false), CDErrNoASPILibrary);
    EXPECT_FALSE(context_->aspiMode);
    EXPECT_FALSE(context_->ioctlMode);
    EXPECT_EQ(cdGetNumDevices(context_.get()), 0);
}

TEST_F(SeamTest, WithoutPassThroughAManagerNotReadyOrWithoutAdaptersStillGivesAspiModeWithoutDevices) {
    fake_.libraries["WNASPI32.DLL"] = {"SendASPI32Command", "GetASPI32SupportInfo"};
    AnswerLikeAManager(fake_);
    struct Case {
        bool nt;
        DWORD info;
    };
    // The 95 family and NT 3.x; a manager answering 0xE8 (no adapters), one
    // answering "complete" with 0 adapters, one with another status.
    for (const Case& c : {Case{false, 0xE800}, Case{false, 0x0100}, Case{true, 0x0200}, Case{true, 0x0100}}) {
        SCOPED_TRACE(c.info);
        fake_.nt = c.nt;
        fake_.passThrough = false;
        fake_.supportInfo = [info = c.info] { return info; };
        cdDone(context_);
        EXPECT_EQ(Init(false), 0);
        EXPECT_TRUE(context_->aspiMode);
        EXPECT_FALSE(ioctl_);
        EXPECT_EQ(cdGetNumDevices(context_.get()), 0);
    }
}

TEST_F(SeamTest, AspiModeFindsTheDriveLetterByTheDevicesCdRomNumber) {
    fake_.libraries["WNASPI32.DLL"] = {"SendASPI32Command", "GetASPI32SupportInfo"};
    AnswerLikeAManager(fake_);
    fake_.logicalDrives = (1 << 3) | (1 << 4);
    fake_.driveTypes = {{'D', DRIVE_CDROM}, {'E', DRIVE_CDROM}};
    fake_.dosDevices = {{"D:", "\\Device\\CdRom01"}, {"E:", "\\Device\\CdRom0"}};
    ASSERT_EQ(Init(false), 0);
    char letter = 0;
    ASSERT_EQ(cdGetDriveLetter(context_.get(), 0, letter), 0);
    EXPECT_EQ(letter, 'E');
}

TEST_F(SeamTest, OnThe95FamilyTheDriveLetterComesFromTheConfigurationManager) {
    fake_.nt = false;
    fake_.passThrough = false;
    fake_.libraries["WNASPI32.DLL"] = {"SendASPI32Command", "GetASPI32SupportInfo"};
    AnswerLikeAManager(fake_, "NEC     ", "CD-ROM DRIVE:222");
    fake_.subkeys["Config Manager\\Enum"] = {"C1A2", "C1A3", "C1A4"};
    fake_.stringValues["Config Manager\\Enum\\C1A2|HardWareKey"] = "ESDI\\GENERIC_IDE__DISK";
    fake_.stringValues["Config Manager\\Enum\\C1A3|HardWareKey"] = "SCSI\\NEC_____CD-ROM_DRIVE:222\\PCI&VEN_1000&REV&03";
    fake_.stringValues["Config Manager\\Enum\\C1A4|HardWareKey"] = "SCSI\\NEC_____CD-ROM_DRIVE:222\\PCI&VEN_1000&REV&04";
    const std::string wrong = "Enum\\SCSI\\NEC_____CD-ROM_DRIVE:222\\PCI&VEN_1000&REV&03|";
    fake_.stringValues[wrong + "Class"] = "CDROM";
    fake_.stringValues[wrong + "DeviceDesc"] = "NEC CD-ROM DRIVE:222";
    fake_.stringValues[wrong + "SCSILUN"] = "0";
    fake_.stringValues[wrong + "SCSITargetID"] = "2";  // another target
    fake_.stringValues[wrong + "CurrentDriveLetterAssignment"] = "G";
    const std::string right = "Enum\\SCSI\\NEC_____CD-ROM_DRIVE:222\\PCI&VEN_1000&REV&04|";
    fake_.stringValues[right + "Class"] = "CDROM";
    fake_.stringValues[right + "DeviceDesc"] = "nec cd-rom drive:222";
    fake_.stringValues[right + "SCSILUN"] = "0";
    fake_.stringValues[right + "SCSITargetID"] = "3";
    fake_.stringValues[right + "CurrentDriveLetterAssignment"] = "HI";
    ASSERT_EQ(Init(false), 0);
    ASSERT_EQ(cdSetDevice(context_.get(), 0), 0);
    EXPECT_EQ(context_->driveLetter, 'H');
}

// "/G" still ended in emulated ASPI when SCSI ports were there, and the
// first reader wrote the mode it got back as the process's preference, so a
// later reader bound the ASPI manager instead. Runs in a child started with "/G".
TEST(CommandLineChild, DISABLED_WithSlashGEveryReaderReachesTheDrivesByLetter) {
    ASSERT_TRUE(CDCommandLinePrefersIoctl());
    FakePlatform fake;
    CDSetPlatform(&fake);
    fake.devices["\\\\.\\SCSI0:"] = 0;
    fake.logicalDrives = 1 << 3;
    fake.driveTypes = {{'D', DRIVE_CDROM}};
    {
        wc::TComponent root(nullptr);
        TMMCDReader& first = wc::MakeComponent<TMMCDReader>(root);
        EXPECT_TRUE(first.Context()->ioctlMode);
        fake.libraries["WNASPI32.DLL"] = {"SendASPI32Command", "GetASPI32SupportInfo"};
        AnswerLikeAManager(fake);
        TMMCDReader& second = wc::MakeComponent<TMMCDReader>(root);
        EXPECT_TRUE(second.Context()->ioctlMode);
        EXPECT_TRUE(fake.loads.empty()) << "no ASPI manager is loaded";
    }
    CDSetPlatform(nullptr);
}

TEST(CommandLineTest, WithSlashGEveryReaderReachesTheDrivesByLetter) {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, sizeof path);
    testing_support::ChildProcess child(path, "--gtest_also_run_disabled_tests --gtest_filter=CommandLineChild.* /G",
                                        testing_support::ProgramDir());
    ASSERT_TRUE(child.Wait(std::chrono::seconds(60)));
    DWORD code = 99;
    ::GetExitCodeProcess(child.handle(), &code);
    EXPECT_EQ(code, 0u) << "the child's case failed";
}

// ---- pass-through ----

// One SCSI port with one bus: a disk (or the given type) at target 0 and a CD-ROM drive at target 1.
std::vector<uint8_t> InquiryDataOfOnePort(uint8_t firstType = 0x00) {
    std::vector<uint8_t> data(2048, 0);
    data[0] = 1;                 // buses
    data[4] = 2;                 // units on bus 0
    data[4 + 1] = 7;             // initiator id
    data[4 + 4] = 16;            // first unit at 16
    auto unit = [&](size_t at, uint8_t target, uint8_t type, uint32_t next) {
        data[at] = 0;            // path
        data[at + 1] = target;
        data[at + 2] = 0;        // lun
        data[at + 4] = 36;       // inquiry length
        std::memcpy(&data[at + 8], &next, 4);
        data[at + 12] = type;
    };
    unit(16, 0, firstType, 64);
    unit(64, 1, 0x05, 0);
    return data;
}

class PassThroughTest : public SeamTest {
protected:
    void SetUp() override {
        SeamTest::SetUp();
        fake_.devices["\\\\.\\SCSI0:"] = 0;
        fake_.handlers[IOCTL_SCSI_GET_INQUIRY_DATA_CODE] = [this](const FakePlatform::IoCall&, void*, void* out,
                                                                  DWORD& returned, DWORD&) {
            const auto data = InquiryDataOfOnePort(firstType_);
            std::memcpy(out, data.data(), data.size());
            returned = DWORD(data.size());
            return TRUE;
        };
        fake_.handlers[IOCTL_SCSI_PASS_THROUGH_DIRECT_CODE] = [this](const FakePlatform::IoCall& call, void* in,
                                                                     void*, DWORD&, DWORD& error) {
            auto* request = static_cast<CDPassThroughRequest*>(in);
            requests_.push_back(*request);
            if (failures_ > 0) {
                --failures_;
                error = failError_;
                return FALSE;
            }
            if (request->sptd.Cdb[0] == 0x12) {
                auto* buffer = static_cast<uint8_t*>(request->sptd.DataBuffer);
                std::memset(buffer, 0, request->sptd.DataTransferLength);
                buffer[0] = request->sptd.TargetId == 1 ? 5 : firstType_;
                std::memcpy(buffer + 8, "TEAC    CD-532S         ", 24);
            }
            if (request->sptd.Cdb[0] == 0x1E) {
                request->sptd.ScsiStatus = 2;
                request->sense[0] = 0x70;
                request->sense[2] = 0x02;
            }
            return TRUE;
        };
    }
    // Answers IOCTL_SCSI_GET_ADDRESS: "\\.\CdRom<n>" is target n + 1 of port 0.
    void AnswerAddresses() {
        fake_.handlers[IOCTL_SCSI_GET_ADDRESS_CODE] = [this](const FakePlatform::IoCall& call, void*, void* out,
                                                            DWORD& returned, DWORD&) {
            const std::string& name = fake_.handleNames[call.device];
            CDScsiAddress address{sizeof(CDScsiAddress), 0, 0, 0, 0};
            if (name.rfind("\\\\.\\CdRom", 0) == 0) address.TargetId = uint8_t(name.back() - '0' + 1);
            std::memcpy(out, &address, sizeof(address));
            returned = sizeof(address);
            return TRUE;
        };
    }
    // A request block for target 1 that sends `opcode`, with or without event notification.
    static SRB_ExecSCSICmd Request(uint8_t opcode, HANDLE event, uint8_t* buffer = nullptr, uint32_t length = 0) {
        SRB_ExecSCSICmd srb{};
        srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
        srb.SRB_Flags = uint8_t((event ? SRB_EVENT_NOTIFY : 0) | (buffer ? SRB_DIR_IN : 0));
        srb.SRB_Target = 1;
        srb.SRB_CDBLen = 12;
        srb.CDBByte[0] = opcode;
        srb.SRB_PostProc = event;
        srb.SRB_BufPointer = buffer;
        srb.SRB_BufLen = length;
        return srb;
    }
    // Pass-throughs go pending and complete only once `gate` is set;
    // `completed` is set when a completion has run, `notify` is for the request.
    struct PendingPassThrough {
        wc::KernelHandle gate, completed, notify;
    };
    PendingPassThrough HoldPassThroughs() {
        PendingPassThrough pending{wc::KernelHandle(::CreateEventA(nullptr, TRUE, FALSE, nullptr)),
                                   wc::KernelHandle(::CreateEventA(nullptr, TRUE, FALSE, nullptr)),
                                   wc::KernelHandle(::CreateEventA(nullptr, TRUE, FALSE, nullptr))};
        fake_.pendingOverlapped = true;
        fake_.completionGate = pending.gate.get();
        fake_.completed = pending.completed.get();
        return pending;
    }
    std::vector<CDPassThroughRequest> requests_;
    int failures_ = 0;
    DWORD failError_ = 0;
    uint8_t firstType_ = 0x00;
};

TEST_F(PassThroughTest, WithoutManagerTheScsiPortsAnswerAsAnEmulatedAspiManager) {
    ASSERT_EQ(Init(false), 0);
    ASSERT_GE(fake_.opens.size(), 2u);
    EXPECT_EQ(fake_.opens[0].first, "\\\\.\\SCSI0:");
    EXPECT_EQ(fake_.opens[0].second, DWORD(GENERIC_READ | GENERIC_WRITE));
    EXPECT_EQ(fake_.opens[1].first, "\\\\.\\SCSI1:");
    ASSERT_EQ(fake_.ioCalls.front().code, IOCTL_SCSI_GET_INQUIRY_DATA_CODE);
    EXPECT_EQ(fake_.ioCalls.front().outSize, 2048u);
    EXPECT_TRUE(context_->aspiMode);
    // Only the listed units are asked; both answer, the CD-ROM drive stays.
    ASSERT_EQ(requests_.size(), 2u);
    ASSERT_EQ(cdGetNumDevices(context_.get()), 1);
    EXPECT_EQ(context_->devices[0].target, 1);
    const CDPassThroughDirect& sptd = requests_[1].sptd;
    EXPECT_EQ(sptd.Length, sizeof(CDPassThroughDirect));
    EXPECT_EQ(sptd.PathId, 0);
    EXPECT_EQ(sptd.TargetId, 1);
    EXPECT_EQ(sptd.Lun, 0);
    EXPECT_EQ(sptd.CdbLength, 6);
    const uint8_t inquiry[6] = {0x12, 0, 0, 0, 0x38, 0};
    EXPECT_EQ(std::memcmp(sptd.Cdb, inquiry, 6), 0);
    EXPECT_EQ(sptd.DataIn, SCSI_IOCTL_DATA_IN);
    EXPECT_EQ(sptd.DataTransferLength, 56u);
    EXPECT_EQ(sptd.TimeOutValue, 5u);
    EXPECT_EQ(sptd.SenseInfoOffset, offsetof(CDPassThroughRequest, sense));
    EXPECT_EQ(sptd.SenseInfoLength, 14);
    char name[64];
    ASSERT_EQ(cdGetDeviceName(context_.get(), 0, name, sizeof(name)), 0);
    EXPECT_STREQ(name, "TEAC - CD-532S");
}

TEST_F(PassThroughTest, APendingPassThroughIsFinishedByItsOwnThreadAndSignalled) {
    fake_.pendingOverlapped = true;
    ASSERT_EQ(Init(false), 0);
    ASSERT_EQ(cdGetNumDevices(context_.get()), 1);
    ASSERT_EQ(cdSetDevice(context_.get(), 0), 0);
    EXPECT_EQ(cdSetSpeed(context_.get(), 1200), 0);
    EXPECT_EQ(requests_.back().sptd.DataIn, SCSI_IOCTL_DATA_UNSPECIFIED);
    EXPECT_TRUE(fake_.ioCalls.back().overlapped);
}

TEST_F(PassThroughTest, AnAbortedPendingPassThroughLeavesTheRequestBlockAlone) {
    ASSERT_EQ(Init(false), 0);
    const PendingPassThrough pending = HoldPassThroughs();
    auto srb = std::make_unique<SRB_ExecSCSICmd>(Request(0xBB, pending.notify.get()));
    ASSERT_EQ(SPTISendASPI32Command(srb.get()), SS_PENDING);
    SRB_Abort abort{};
    abort.SRB_Cmd = SC_ABORT_SRB;
    abort.SRB_ToAbort = srb.get();
    EXPECT_EQ(SPTISendASPI32Command(&abort), SS_COMP);
    EXPECT_EQ(srb->SRB_Status, SS_ABORTED);
    ::SetEvent(pending.gate.get());
    ASSERT_EQ(::WaitForSingleObject(pending.completed.get(), 10000), WAIT_OBJECT_0);
    // The completion thread takes the lock the abort took; once it has, it is done.
    EXPECT_EQ(::WaitForSingleObject(pending.notify.get(), 200), DWORD(WAIT_TIMEOUT));
    EXPECT_EQ(srb->SRB_Status, SS_ABORTED);
}

// An abort only detached a pending pass-through: the system went on writing
// into the caller's buffer after the abort had returned.
TEST_F(PassThroughTest, AnAbortCancelsThePendingPassThroughBeforeItReturns) {
    ASSERT_EQ(Init(false), 0);
    const PendingPassThrough pending = HoldPassThroughs();
    std::vector<uint8_t> buffer(2352, 0);
    fake_.lateWrite = [&buffer] { std::fill(buffer.begin(), buffer.end(), uint8_t(0xAB)); };
    SRB_ExecSCSICmd srb = Request(0xBE, pending.notify.get(), buffer.data(), uint32_t(buffer.size()));
    ASSERT_EQ(SPTISendASPI32Command(&srb), SS_PENDING);
    SRB_Abort abort{};
    abort.SRB_Cmd = SC_ABORT_SRB;
    abort.SRB_ToAbort = &srb;
    EXPECT_EQ(SPTISendASPI32Command(&abort), SS_COMP);
    EXPECT_EQ(fake_.cancels, 1);
    EXPECT_EQ(srb.SRB_Status, SS_ABORTED);
    // The system would have finished the request now.
    ::SetEvent(pending.gate.get());
    ASSERT_EQ(::WaitForSingleObject(pending.completed.get(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(std::count(buffer.begin(), buffer.end(), uint8_t(0xAB)), 0) << "written after the abort";
    EXPECT_EQ(srb.SRB_Status, SS_ABORTED);
}

// A request without event notification went out without an OVERLAPPED,
// although the port was opened for overlapped I/O.
TEST_F(PassThroughTest, ARequestWithoutAnEventIsSentOverlappedAndFinishedAllTheSame) {
    ASSERT_EQ(Init(false), 0);
    fake_.pendingOverlapped = true;
    SRB_ExecSCSICmd srb = Request(0xBB, nullptr);
    ASSERT_EQ(SPTISendASPI32Command(&srb), SS_PENDING);
    EXPECT_TRUE(fake_.ioCalls.back().overlapped);
    volatile uint8_t* status = &srb.SRB_Status;
    EXPECT_TRUE(testing_support::WaitUntil([status] { return *status != SS_PENDING; }));
    EXPECT_EQ(*status, SS_COMP);
}

// After a reopen, every unit of the old port was pointed at the one device
// that matched: the other drive's commands went to that drive.
TEST_F(PassThroughTest, AReopenRebindsOnlyTheUnitItMatched) {
    firstType_ = 0x05;  // CD-ROM drives at targets 0 and 1 of the same port
    ASSERT_EQ(Init(false), 0);
    ASSERT_EQ(cdGetNumDevices(context_.get()), 2);
    fake_.dosDevices[""] = std::string("CdRom0\0CdRom1", 13);
    fake_.devices["\\\\.\\CdRom0"] = 0;
    fake_.devices["\\\\.\\CdRom1"] = 0;
    AnswerAddresses();
    ASSERT_EQ(cdSetDevice(context_.get(), 1), 0);  // target 1
    failures_ = 1;
    failError_ = ERROR_MEDIA_CHANGED;
    ASSERT_EQ(cdSetSpeed(context_.get(), 1200), 0);
    EXPECT_EQ(fake_.handleNames[fake_.ioCalls.back().device], "\\\\.\\CdRom0");
    ASSERT_EQ(cdSetDevice(context_.get(), 0), 0);  // target 0, on the port as before
    ASSERT_EQ(cdSetSpeed(context_.get(), 1200), 0);
    EXPECT_EQ(fake_.handleNames[fake_.ioCalls.back().device], "\\\\.\\SCSI0:");
}

TEST_F(PassThroughTest, ACheckConditionFailsTheRequestAndCopiesTheSense) {
    ASSERT_EQ(Init(false), 0);
    ASSERT_EQ(cdSetDevice(context_.get(), 0), 0);
    SRB_ExecSCSICmd srb{};
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_Target = 1;
    srb.SRB_SenseLen = 14;
    srb.SRB_CDBLen = 6;
    srb.CDBByte[0] = 0x1E;
    EXPECT_EQ(SPTISendASPI32Command(&srb), SS_ERR);
    EXPECT_EQ(srb.SRB_Status, SS_ERR);
    EXPECT_EQ(srb.SRB_TargStat, 2);
    EXPECT_EQ(srb.SenseArea[0], 0x70);
    EXPECT_EQ(srb.SenseArea[2], 0x02);
    EXPECT_EQ(cdLockDevice(context_.get(), true), CDErrLock);
}

TEST_F(PassThroughTest, AfterMediaChangedThePortIsReopenedByItsScsiAddressAndTheRequestSentOnce) {
    ASSERT_EQ(Init(false), 0);
    ASSERT_EQ(cdSetDevice(context_.get(), 0), 0);
    fake_.dosDevices[""] = std::string("Floppy0\0CdRom0", 14);
    fake_.devices["\\\\.\\Floppy0"] = 0;
    fake_.devices["\\\\.\\CdRom0"] = 0;
    fake_.handlers[IOCTL_SCSI_GET_ADDRESS_CODE] = [this](const FakePlatform::IoCall& call, void*, void* out,
                                                        DWORD& returned, DWORD& error) {
        CDScsiAddress address{sizeof(CDScsiAddress), 0, 0, 0, 0};
        if (fake_.handleNames[call.device] == "\\\\.\\CdRom0") address.TargetId = 1;
        std::memcpy(out, &address, sizeof(address));
        returned = sizeof(address);
        return TRUE;
    };
    failures_ = 1;
    failError_ = ERROR_MEDIA_CHANGED;
    const size_t before = requests_.size();
    ASSERT_EQ(cdSetSpeed(context_.get(), 1200), 0);
    EXPECT_EQ(requests_.size(), before + 2);
    EXPECT_EQ(fake_.handleNames[fake_.ioCalls.back().device], "\\\\.\\CdRom0");
    // A second failure of the same kind is not retried.
    failures_ = 2;
    failError_ = ERROR_INVALID_HANDLE;
    EXPECT_EQ(cdSetSpeed(context_.get(), 2400), CDErrASPIFailed);
}

TEST_F(PassThroughTest, TheEmulatedAdapterAnswersItsInquiryAndRefusesWhatItDoesNotKnow) {
    ASSERT_EQ(Init(false), 0);
    EXPECT_EQ(SPTIGetASPI32SupportInfo(), 0x0101u);
    SRB_HAInquiry inquiry{};
    inquiry.SRB_Cmd = SC_HA_INQUIRY;
    EXPECT_EQ(SPTISendASPI32Command(&inquiry), SS_COMP);
    EXPECT_EQ(inquiry.HA_Count, 1);
    EXPECT_EQ(inquiry.HA_SCSI_ID, 7);
    EXPECT_EQ(std::string(inquiry.HA_ManagerId, 14), "SPTI ASPI v1.0");
    EXPECT_EQ(std::string(inquiry.HA_Identifier, 15), "SCSI Adapter 00");
    uint32_t maxTransfer = 0;
    std::memcpy(&maxTransfer, &inquiry.HA_Unique[4], 4);
    EXPECT_EQ(maxTransfer, 0x10000u);
    inquiry.SRB_HaId = 1;
    EXPECT_EQ(SPTISendASPI32Command(&inquiry), 129u);
    SRB_GDEVBlock type{};
    type.SRB_Cmd = SC_GET_DEV_TYPE;
    type.SRB_Target = 1;
    EXPECT_EQ(SPTISendASPI32Command(&type), SS_COMP);
    EXPECT_EQ(type.SRB_DeviceType, 5);
    type.SRB_Target = 6;
    EXPECT_EQ(SPTISendASPI32Command(&type), 130u);
    SRB_Header unknown{};
    unknown.SRB_Cmd = 0x7F;
    EXPECT_EQ(SPTISendASPI32Command(&unknown), 128u);
}

TEST_F(SeamTest, WithoutPortsTheEmulatedManagerHasNoAdapters) {
    EXPECT_EQ(SPTIGetASPI32SupportInfo(), 0xE800u);
    EXPECT_EQ(Init(false), 0);
    EXPECT_TRUE(context_->ioctlMode);
}

// ---- IOCTL mode ----

class IoctlTest : public SeamTest {
protected:
    void SetUp() override {
        SeamTest::SetUp();
        fake_.logicalDrives = (1 << 2) | (1 << 4);
        fake_.driveTypes = {{'C', DRIVE_FIXED}, {'E', DRIVE_CDROM}};
        fake_.devices["\\\\.\\E:"] = 0;
        ASSERT_EQ(Init(true), 0);
        ASSERT_TRUE(context_->ioctlMode);
    }
    std::vector<uint8_t> Utf16(const std::string& text) {
        std::vector<uint8_t> bytes;
        for (char c : text) {
            bytes.push_back(uint8_t(c));
            bytes.push_back(0);
        }
        bytes.push_back(0);
        bytes.push_back(0);
        return bytes;
    }
};

TEST_F(IoctlTest, TheDeviceNameIsTheFriendlyNameOfTheMountedDevice) {
    // 43 characters at the end are dropped: "#" and the interface class in braces, and "0000".
    fake_.binaryValues["SYSTEM\\MountedDevices|\\DosDevices\\E:"] =
        Utf16("\\??\\SCSI#CdRom&Ven_PLEXTOR#RW5&2b3c&0&000#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}0000");
    fake_.stringValues["SYSTEM\\CurrentControlSet\\Enum\\SCSI\\CdRom&Ven_PLEXTOR/RW5&2b3c&0&000|FriendlyName"] =
        "PLEXTOR CD-R PX-W4012A SCSI CdRom Device";
    char name[64];
    ASSERT_EQ(cdGetDeviceName(context_.get(), 0, name, sizeof(name)), 0);
    EXPECT_STREQ(name, "PLEXTOR CD-R PX-W4012A");
}

TEST_F(IoctlTest, ADriveWithoutMountedDeviceEntryIsAGenericWin32Device) {
    char name[64];
    ASSERT_EQ(cdGetDeviceName(context_.get(), 0, name, sizeof(name)), 0);
    EXPECT_STREQ(name, "Generic Win32 Device");
    fake_.binaryValues["SYSTEM\\MountedDevices|\\DosDevices\\E:"] = Utf16("no prefix");
    ASSERT_EQ(cdGetDeviceName(context_.get(), 0, name, sizeof(name)), 0);
    EXPECT_STREQ(name, "Generic Win32 Device");
}

TEST_F(IoctlTest, OpeningTriesSixTimesWithWriteAccessFromTheFifth) {
    ASSERT_EQ(cdSetDevice(context_.get(), 0), 0);
    fake_.opens.clear();
    fake_.devices["\\\\.\\E:"] = -1;
    EXPECT_EQ(cdOpen(context_.get(), true), CDErrOpen);
    ASSERT_EQ(fake_.opens.size(), 6u);
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(fake_.opens[i].first, "\\\\.\\E:");
        EXPECT_EQ(fake_.opens[i].second, DWORD(i >= 4 ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ)) << i;
    }
    fake_.opens.clear();
    fake_.devices["\\\\.\\E:"] = 4;
    EXPECT_EQ(cdOpen(context_.get(), true), 0);
    EXPECT_EQ(fake_.opens.size(), 5u);
    EXPECT_TRUE(fake_.mciCommands.empty()) << "opened raw: no MCI device";
}

TEST_F(IoctlTest, OpeningWithMciOpensTheCdAudioDeviceByAliasInFramesFormat) {
    ASSERT_EQ(cdSetDevice(context_.get(), 0), 0);
    ASSERT_EQ(cdOpen(context_.get(), false), 0);
    const std::vector<std::string> expected = {"open E: type cdaudio alias CD4242: shareable",
                                               "set CD4242: time format msf"};
    EXPECT_EQ(fake_.mciCommands, expected);
    ASSERT_EQ(cdClose(context_.get()), 0);
    EXPECT_EQ(fake_.mciCommands.back(), "close CD4242:");
    fake_.mciErrors["open E: type cdaudio alias CD4242: shareable"] = 263;
    EXPECT_EQ(cdOpen(context_.get(), false), CDErrOpen);
    EXPECT_FALSE(context_->opened);
}

TEST_F(IoctlTest, ARawReadAsksForTheSectorsAtTheirDiskOffsetInCdDaMode) {
    ASSERT_EQ(cdSetDevice(context_.get(), 0), 0);
    ASSERT_EQ(cdOpen(context_.get(), true), 0);
    fake_.handlers[IOCTL_CDROM_RAW_READ_CODE] = [](const FakePlatform::IoCall& call, void*, void* out,
                                                   DWORD& returned, DWORD&) {
        std::memset(out, 0x5A, call.outSize);
        returned = call.outSize;
        return TRUE;
    };
    std::vector<uint8_t> buffer(3 * 2352);
    ASSERT_EQ(cdReadSectorsOnce(context_.get(), buffer.data(), int64_t(buffer.size()), 1200000, 3), 0);
    const auto& call = fake_.ioCalls.back();
    ASSERT_EQ(call.in.size(), 16u);
    // Offset 1200000 * 2048 = 2457600000 = 0x927C0000 (beyond 31 bits), 3 sectors, CD-DA (2).
    const std::vector<uint8_t> expected = {0x00, 0x00, 0x7C, 0x92, 0x00, 0x00, 0x00, 0x00,
                                           3,    0,    0,    0,    2,    0,    0,    0};
    EXPECT_EQ(call.in, expected);
    EXPECT_EQ(call.outSize, 3u * 2352);
    EXPECT_EQ(buffer.back(), 0x5A);
    fake_.handlers.erase(IOCTL_CDROM_RAW_READ_CODE);
    EXPECT_EQ(cdReadSectorsOnce(context_.get(), buffer.data(), int64_t(buffer.size()), 0, 3), CDErrRead);
}

// Stopping the burst reader terminated its thread inside a raw read, which
// holds the context's lock: every later read then waited for it forever.
TEST_F(IoctlTest, StoppingTheBurstReaderInsideARawReadLeavesTheLockFree) {
    ASSERT_EQ(cdSetDevice(context_.get(), 0), 0);
    ASSERT_EQ(cdOpen(context_.get(), true), 0);
    context_->audioEnd = 5000;  // as a table of contents read would leave it
    std::atomic<int> reads{0};
    const HANDLE cancelled = fake_.threadCancelled.get();
    fake_.handlers[IOCTL_CDROM_RAW_READ_CODE] = [&reads, cancelled](const FakePlatform::IoCall& call, void*,
                                                                    void* out, DWORD& returned, DWORD& error) {
        // The second read is answered only when the call is cancelled.
        if (++reads == 2 && ::WaitForSingleObject(cancelled, 10000) == WAIT_OBJECT_0) {
            error = ERROR_OPERATION_ABORTED;
            return FALSE;
        }
        std::memset(out, 0x5A, call.outSize);
        returned = call.outSize;
        return TRUE;
    };
    ASSERT_EQ(cdStartBurst(context_.get(), 0, 100, 10), 0);
    std::vector<uint8_t> buffer(10 * 2352);
    ASSERT_EQ(cdReadBurst(context_.get(), buffer.data(), int64_t(buffer.size())), 10);
    // The consumer asked for the next buffer: the thread waits inside its raw read.
    ASSERT_TRUE(testing_support::WaitUntil([&reads] { return reads == 2; }));
    EXPECT_EQ(cdStopBurst(context_.get()), 0);
    ASSERT_TRUE(context_->lock.TryEnter()) << "the stopped thread still owns the lock";
    context_->lock.Leave();
    EXPECT_EQ(cdReadSectorsOnce(context_.get(), buffer.data(), int64_t(buffer.size()), 20, 10), 0);
}

TEST_F(IoctlTest, AReadOnAClosedDeviceOpensItWithMciForTheCallAndClosesItAgain) {
    ASSERT_EQ(cdSetDevice(context_.get(), 0), 0);
    context_->audioEnd = 5000;  // as a table of contents read would leave it
    bool openDuringRead = false;
    CDDeviceContext* context = context_.get();
    fake_.handlers[IOCTL_CDROM_RAW_READ_CODE] = [&](const FakePlatform::IoCall& call, void*, void* out,
                                                    DWORD& returned, DWORD&) {
        openDuringRead = context->opened && context->busy;
        std::memset(out, 0x5A, call.outSize);
        returned = call.outSize;
        return TRUE;
    };
    std::vector<uint8_t> buffer(2 * 2352);
    ASSERT_EQ(cdReadSectors(context, buffer.data(), int64_t(buffer.size()), 100, 2), 0);
    EXPECT_TRUE(openDuringRead) << "open and busy while the read runs";
    const std::vector<std::string> expected = {"open E: type cdaudio alias CD4242: shareable",
                                               "set CD4242: time format msf", "close CD4242:"};
    EXPECT_EQ(fake_.mciCommands, expected);
    EXPECT_FALSE(context_->opened);
    EXPECT_FALSE(context_->busy);
    EXPECT_EQ(buffer.front(), 0x5A);
    fake_.handlers.erase(IOCTL_CDROM_RAW_READ_CODE);
}

TEST_F(IoctlTest, ReadTocTakesPositionsFromMciAndControlFlagsFromTheSystemsTable) {
    ASSERT_EQ(cdSetDevice(context_.get(), 0), 0);
    fake_.handlers[IOCTL_CDROM_READ_TOC_CODE] = [](const FakePlatform::IoCall& call, void*, void* out,
                                                   DWORD& returned, DWORD&) {
        CDRomTOC toc{};
        toc.FirstTrack = 1;
        toc.LastTrack = 2;
        toc.TrackData[0] = {0, 0x10, 1, 0, {0, 0, 2, 0}};
        toc.TrackData[1] = {0, 0x14, 2, 0, {0, 4, 28, 50}};
        std::memcpy(out, &toc, sizeof(toc));
        returned = sizeof(toc);
        return TRUE;
    };
    fake_.mciAnswers = {{"status CD4242: number of tracks", "2"},
                        {"status CD4242: position track 1", "00:02:00"},
                        {"status CD4242: length track 1", "04:26:50"},
                        {"status CD4242: position track 2", "04:28:50"},
                        {"status CD4242: length track 2", "10:00:00"}};
    CDTrackList toc;
    ASSERT_EQ(cdReadTOC(context_.get(), toc), 0);
    EXPECT_EQ(fake_.ioCalls.back().outSize, 804u);
    ASSERT_EQ(toc.count, 2);
    EXPECT_EQ(toc.tracks[0].start, 0x000200u);
    EXPECT_EQ(toc.tracks[0].length, 0x321A04u);
    EXPECT_EQ(toc.tracks[0].audio, 1);
    EXPECT_EQ(toc.tracks[1].number, 2);
    EXPECT_EQ(toc.tracks[1].audio, 0);
    EXPECT_EQ(context_->audioEnd, 20000);
    EXPECT_FALSE(context_->opened) << "the device was opened for the call only";
    fake_.mciErrors["status CD4242: length track 2"] = 263;
    EXPECT_EQ(cdReadTOC(context_.get(), toc), CDErrNotReady);
}

TEST_F(IoctlTest, MediaPresenceAndStopGoThroughMci) {
    ASSERT_EQ(cdSetDevice(context_.get(), 0), 0);
    fake_.mciAnswers["status CD4242: media present"] = "true";
    EXPECT_EQ(cdMediaPresent(context_.get()), 0);
    EXPECT_EQ(fake_.mciCommands.front(), "open E: type cdaudio alias CD4242: shareable");
    EXPECT_EQ(fake_.mciCommands.back(), "close CD4242:");
    fake_.mciAnswers["status CD4242: media present"] = "false";
    EXPECT_EQ(cdMediaPresent(context_.get()), CDErrNotReady);
    fake_.mciCommands.clear();
    fake_.mciAnswers["status CD4242: mode"] = "playing";
    EXPECT_EQ(cdStop(context_.get()), 0);
    EXPECT_NE(std::find(fake_.mciCommands.begin(), fake_.mciCommands.end(), "stop CD4242:"), fake_.mciCommands.end());
    fake_.mciCommands.clear();
    fake_.mciAnswers["status CD4242: mode"] = "stopped";
    EXPECT_EQ(cdStop(context_.get()), 0);
    EXPECT_EQ(std::find(fake_.mciCommands.begin(), fake_.mciCommands.end(), "stop CD4242:"), fake_.mciCommands.end());
    fake_.mciErrors["status CD4242: mode"] = 263;
    EXPECT_EQ(cdStop(context_.get()), CDErrStop);
}

TEST_F(IoctlTest, LockingSendsTheMediaRemovalCallWithOneByte) {
    ASSERT_EQ(cdSetDevice(context_.get(), 0), 0);
    ASSERT_EQ(cdOpen(context_.get(), true), 0);
    fake_.handlers[IOCTL_STORAGE_MEDIA_REMOVAL_CODE] = [](const FakePlatform::IoCall&, void*, void*, DWORD&,
                                                          DWORD&) { return TRUE; };
    ASSERT_EQ(cdLockDevice(context_.get(), true), 0);
    EXPECT_EQ(fake_.ioCalls.back().in, std::vector<uint8_t>{1});
    ASSERT_EQ(cdLockDevice(context_.get(), false), 0);
    EXPECT_EQ(fake_.ioCalls.back().in, std::vector<uint8_t>{0});
    fake_.handlers.erase(IOCTL_STORAGE_MEDIA_REMOVAL_CODE);
    EXPECT_EQ(cdLockDevice(context_.get(), true), CDErrLock);
}

TEST_F(IoctlTest, SpeedAndCdTextNeedAspiMode) {
    ASSERT_EQ(cdSetDevice(context_.get(), 0), 0);
    EXPECT_EQ(cdSetSpeed(context_.get(), 1200), CDErrNeedsASPI);
    CDTextInfo text;
    EXPECT_EQ(cdReadCDText(context_.get(), text), CDErrNeedsASPI);
}

}  // namespace
