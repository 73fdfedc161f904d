// The platform's device control codes and request records for SCSI
// pass-through and CD-ROM access, as the driver kit publishes them.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

constexpr DWORD CDCtlCode(DWORD deviceType, DWORD function, DWORD method, DWORD access) {
    return (deviceType << 16) | (access << 14) | (function << 2) | method;
}
constexpr DWORD kFileDeviceController = 0x04;
constexpr DWORD kFileDeviceCdRom = 0x02;
constexpr DWORD kStorageBase = 0x2D;

constexpr DWORD IOCTL_SCSI_GET_INQUIRY_DATA_CODE = CDCtlCode(kFileDeviceController, 0x0403, 0, 0);
constexpr DWORD IOCTL_SCSI_GET_ADDRESS_CODE = CDCtlCode(kFileDeviceController, 0x0406, 0, 0);
constexpr DWORD IOCTL_SCSI_PASS_THROUGH_DIRECT_CODE = CDCtlCode(kFileDeviceController, 0x0405, 0, 3);
constexpr DWORD IOCTL_CDROM_READ_TOC_CODE = CDCtlCode(kFileDeviceCdRom, 0x0000, 0, 1);
constexpr DWORD IOCTL_CDROM_RAW_READ_CODE = CDCtlCode(kFileDeviceCdRom, 0x000F, 2, 1);
constexpr DWORD IOCTL_STORAGE_MEDIA_REMOVAL_CODE = CDCtlCode(kStorageBase, 0x0201, 0, 1);
static_assert(IOCTL_SCSI_PASS_THROUGH_DIRECT_CODE == 0x4D014 && IOCTL_CDROM_RAW_READ_CODE == 0x2403E);

constexpr uint8_t SCSI_IOCTL_DATA_OUT = 0;
constexpr uint8_t SCSI_IOCTL_DATA_IN = 1;
constexpr uint8_t SCSI_IOCTL_DATA_UNSPECIFIED = 2;

struct CDPassThroughDirect {
    uint16_t Length;
    uint8_t ScsiStatus;
    uint8_t PathId;
    uint8_t TargetId;
    uint8_t Lun;
    uint8_t CdbLength;
    uint8_t SenseInfoLength;
    uint8_t DataIn;
    uint32_t DataTransferLength;
    uint32_t TimeOutValue;
    void* DataBuffer;
    uint32_t SenseInfoOffset;
    uint8_t Cdb[16];
};
// The request with room for the sense data behind it.
struct CDPassThroughRequest {
    CDPassThroughDirect sptd;
    uint32_t filler;
    uint8_t sense[32];
};
#if !defined(_WIN64)
static_assert(sizeof(CDPassThroughDirect) == 44 && offsetof(CDPassThroughRequest, sense) == 48);
#endif

struct CDScsiAddress {
    uint32_t Length;
    uint8_t PortNumber;
    uint8_t PathId;
    uint8_t TargetId;
    uint8_t Lun;
};
static_assert(sizeof(CDScsiAddress) == 8);

// IOCTL_CDROM_RAW_READ's request: 16 bytes.
struct CDRawReadInfo {
    LARGE_INTEGER DiskOffset;
    uint32_t SectorCount;
    int32_t TrackMode;  // 2 = CD-DA
};
static_assert(sizeof(CDRawReadInfo) == 16);
constexpr int32_t CDTrackModeCDDA = 2;

// IOCTL_CDROM_READ_TOC's answer: 4-byte header and 100 entries of 8 bytes.
struct CDRomTrackData {
    uint8_t Reserved;
    uint8_t ControlAdr;  // control in the low four bits
    uint8_t TrackNumber;
    uint8_t Reserved1;
    uint8_t Address[4];  // 0, minutes, seconds, frames
};
struct CDRomTOC {
    uint8_t Length[2];
    uint8_t FirstTrack;
    uint8_t LastTrack;
    CDRomTrackData TrackData[100];
};
static_assert(sizeof(CDRomTOC) == 804);

struct CDPreventMediaRemoval {
    uint8_t PreventMediaRemoval;
};
