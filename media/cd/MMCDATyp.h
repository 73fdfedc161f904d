// Types shared by the CD-ROM device layer and the CD audio reader: the
// layer's status codes, the drive type names, the table of contents record
// and the CD-Text block slots.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

// ---- status codes of the cd* operations (0 = success) ----
constexpr int CDErrNotOpen = -1;          // burst or synchronised reading on a closed device
constexpr int CDErrInvalidHandle = -2;
constexpr int CDErrInvalidParam = -3;
constexpr int CDErrInvalidDevice = -4;
constexpr int CDErrAlreadyOpen = -5;
constexpr int CDErrNotReady = -6;
constexpr int CDErrOpen = -7;
constexpr int CDErrClose = -8;
constexpr int CDErrLoadEject = -9;
constexpr int CDErrStart = -10;
constexpr int CDErrPause = -11;
constexpr int CDErrRestart = -12;
constexpr int CDErrStop = -13;
constexpr int CDErrLock = -14;
constexpr int CDErrRead = -15;
constexpr int CDErrSync = -16;
constexpr int CDErrNeedsASPI = -17;
constexpr int CDErrNoMemory = -100;       // also: unknown code asked of cdGetErrorText
constexpr int CDErrNoASPILibrary = -101;
constexpr int CDErrNoASPIManager = -102;
constexpr int CDErrNoHostAdapter = -103;
constexpr int CDErrInvalidDeviceId = -104;
constexpr int CDErrTimeout = -105;
constexpr int CDErrASPIFailed = -200;

// Index into CDDriveTypeNames.
constexpr int CDTypeAutoDetect = 0;
constexpr int CDTypeATAPI = 1;
constexpr int CDTypeInitial = 19;  // PLEXTOR
extern const std::array<const char*, 25> CDDriveTypeNames;

// How the drive reads audio sectors.
enum CDReadMethod : int32_t { rmRead10 = 0, rmVendorD4 = 1, rmVendorD8 = 2, rmReadCD = 3 };

constexpr int CDMaxTracks = 99;
constexpr int CDRawSectorSize = 2352;  // one frame of audio, 1/75 second
constexpr int CDLargeSectorSize = 2368;  // 2352 bytes of audio and 16 more per sector
constexpr int CDLeadIn = 150;           // frames before sector 0
constexpr int CDEnhancedGap = 11400;    // frames between the last audio track and the data area

#pragma pack(push, 1)
// One track of the table of contents. MSF values are packed: minutes in the
// low byte, seconds in the next, frames in the third.
struct CDTrackEntry {
    int32_t number;
    uint32_t start;        // lead-in included
    uint32_t length;
    uint8_t audio;         // control bit 0x04 clear
    int32_t copyProhibited;  // control bit 0x02 clear
    int32_t preEmphasis;     // control bit 0x01 set
};
#pragma pack(pop)
static_assert(sizeof(CDTrackEntry) == 21, "track entries are packed records");

struct CDTrackList {
    int32_t count = 0;
    std::array<CDTrackEntry, CDMaxTracks> tracks{};
};

// One CD-Text block (one language): per entry (0 = disc, then tracks) nine
// fields of 160 characters and a terminator, one per pack type.
constexpr int CDTextFieldCount = 9;
constexpr int CDTextFieldSize = 161;
struct CDTextBlock {
    bool doubleByte = false;
    std::array<std::array<std::array<char, CDTextFieldSize>, CDTextFieldCount>, CDMaxTracks + 1> fields{};
};
// The field index of a pack type (0x80 .. 0x87, 0x8E), -1 for others.
int CDTextFieldIndex(uint8_t packType);

constexpr int CDTextBlockSlots = 8;
using CDTextInfo = std::array<std::unique_ptr<CDTextBlock>, CDTextBlockSlots>;

// Packed MSF from frames and back.
uint32_t CDFramesToMSF(uint32_t frames);
uint32_t CDMSFToFrames(uint32_t msf);
