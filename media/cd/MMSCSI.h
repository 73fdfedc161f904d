// The ASPI for Win32 request blocks and codes, and the SCSI/MMC command
// blocks the CD-ROM layer sends.
//
// The request blocks keep their natural layout: in the 32-bit build that is
// the published one (no field needs padding there); the 64-bit build pads
// pointers to 8 bytes, as does any manager built for 64-bit.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>

// Request codes.
constexpr uint8_t SC_HA_INQUIRY = 0x00;
constexpr uint8_t SC_GET_DEV_TYPE = 0x01;
constexpr uint8_t SC_EXEC_SCSI_CMD = 0x02;
constexpr uint8_t SC_ABORT_SRB = 0x03;

// Request status.
constexpr uint8_t SS_PENDING = 0x00;
constexpr uint8_t SS_COMP = 0x01;
constexpr uint8_t SS_ABORTED = 0x02;
constexpr uint8_t SS_ERR = 0x04;
constexpr uint8_t SS_INVALID_CMD = 0x80;  // 128
constexpr uint8_t SS_INVALID_HA = 0x81;   // 129
constexpr uint8_t SS_NO_DEVICE = 0x82;    // 130
constexpr uint8_t SS_NO_ADAPTERS = 0xE8;

// Request flags.
constexpr uint8_t SRB_DIR_IN = 0x08;
constexpr uint8_t SRB_DIR_OUT = 0x10;
constexpr uint8_t SRB_EVENT_NOTIFY = 0x40;

constexpr uint8_t SCSI_STATUS_CHECK_CONDITION = 0x02;
constexpr int ASPISenseLength = 14;

struct SRB_Header {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
};

struct SRB_HAInquiry {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t HA_Count;
    uint8_t HA_SCSI_ID;
    char HA_ManagerId[16];
    char HA_Identifier[16];
    uint8_t HA_Unique[16];  // bytes 4-7: maximum transfer length
    uint16_t HA_Rsvd1;
};

struct SRB_GDEVBlock {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t SRB_Target;
    uint8_t SRB_Lun;
    uint8_t SRB_DeviceType;
    uint8_t SRB_Rsvd1;
};

struct SRB_ExecSCSICmd {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t SRB_Target;
    uint8_t SRB_Lun;
    uint16_t SRB_Rsvd1;
    uint32_t SRB_BufLen;
    uint8_t* SRB_BufPointer;
    uint8_t SRB_SenseLen;
    uint8_t SRB_CDBLen;
    uint8_t SRB_HaStat;
    uint8_t SRB_TargStat;
    void* SRB_PostProc;  // the event to signal with SRB_EVENT_NOTIFY
    uint8_t SRB_Rsvd2[20];
    uint8_t CDBByte[16];
    uint8_t SenseArea[ASPISenseLength + 2];
};

struct SRB_Abort {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    void* SRB_ToAbort;
};

#if !defined(_WIN64)
static_assert(sizeof(void*) == 4);
static_assert(sizeof(SRB_HAInquiry) == 60 && sizeof(SRB_GDEVBlock) == 12);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == 16 && offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 24);
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 48 && sizeof(SRB_ExecSCSICmd) == 80);
#endif

using SendASPI32CommandProc = DWORD(__cdecl*)(void* srb);
using GetASPI32SupportInfoProc = DWORD(__cdecl*)();

// ---- command blocks (multi-byte fields big-endian) ----

struct CDB {
    std::array<uint8_t, 16> bytes{};
    uint8_t length = 0;
};

CDB CdbInquiry();                                    // 12 00 00 00 38 00
CDB CdbModeSelect6();                                // 15 10 00 00 0C 00
CDB CdbRead10(uint32_t lba, uint8_t count);          // 28 00 LBA 00 00 n 00
CDB CdbReadD4(uint32_t lba, uint8_t count);          // D4 00 LBA 00 00 n 00
CDB CdbReadD8(uint32_t lba, uint8_t count);          // D8 00 LBA 00 00 00 n 00 00
CDB CdbReadCD(uint32_t lba, uint8_t count);          // BE 04 LBA 00 00 n F0 00 00
CDB CdbReadTOC();                                    // 43 00 00 00 00 00 00 03 24 00
CDB CdbReadCDText(uint16_t allocation);              // 43 00 05 00 00 00 00 len 00
CDB CdbSetSpeed(uint16_t speed);                     // BB 00 speed FF FF 00 00 00 00 00 00
CDB CdbPreventAllow(bool lock);                      // 1E 00 00 00 lock 00

constexpr int CDInquiryLength = 56;
constexpr int CDTOCLength = 804;
constexpr int CDModeListLength = 12;
extern const std::array<uint8_t, CDModeListLength> CDModeListA;
extern const std::array<uint8_t, CDModeListLength> CDModeListB;
extern const std::array<uint8_t, CDModeListLength> CDModeListC;
