// The virtual CD-ROM drive's interface to the tests: what the test double
// WNASPI32.DLL exports besides the two ASPI entry points, and the sample data
// its discs hold.
//
// A test loads the library (LoadLibrary("WNASPI32.DLL"), the same module the
// product binds), describes the adapters, drives and disc with
// VirtualDriveLoad, and reads back every command block the drives received.
//
// Description: one statement per line, words separated by blanks, texts in
// double quotes, numbers decimal or 0x hex.
//   adapters N                       host adapters (default 1)
//   supportstatus S                  status byte of GetASPI32SupportInfo (default 1)
//   device HA TARGET LUN [type=5] [vendor="..."] [product="..."] [readcd=0|1]
//          [bigendian=0|1] [inquirylength=56]
//   track NUMBER CONTROL LBA          one table of contents entry
//   leadout LBA
//   tocraw BYTE...                    the READ TOC answer as given
//   cdtext BLOCK TYPE "item" ...      items of one pack type (disc first)
//   cdtextraw BYTE...                 the CD-Text READ TOC answer as given
//   pending MS                        commands complete on a thread of their own
//                                     after MS (signalling the event of an
//                                     event-notified one); the answer is written
//                                     and the command takes effect only then,
//                                     never after it was aborted
//   delay OPCODE MS                   commands with this opcode complete that way
//                                     after MS (0: at once), whatever "pending" says
//   never OPCODE                      commands with this opcode never complete
//   fail OPCODE ATTEMPT               that attempt (1-based) of the opcode fails
//   shift READ BYTES                  that read (1-based, any read opcode) starts BYTES later
//   silence FIRST COUNT               sectors FIRST .. FIRST+COUNT-1 hold digital silence
//                                     (zero bytes) instead of VirtualDiscByte
#pragma once

#include <cstdint>

struct VirtualDriveLogRecord {
    uint8_t adapter;
    uint8_t target;
    uint8_t lun;
    uint8_t cdbLength;
    uint8_t cdb[16];
    uint8_t flags;       // the request's SRB_Flags (direction and event notification)
    uint32_t length;     // SRB_BufLen
    uint8_t dataOut[16]; // the first bytes sent with a data-out command
};

using VirtualDriveLoadProc = int(__cdecl*)(const char* description);  // 0, or the failing line number
using VirtualDriveLogCountProc = int(__cdecl*)();
using VirtualDriveLogEntryProc = int(__cdecl*)(int index, VirtualDriveLogRecord* record);
// PREVENT MEDIUM REMOVAL commands carried out, less ALLOW ones (never below 0).
using VirtualDriveMediumLocksProc = int(__cdecl*)();

// Byte `position` of the audio stream of every virtual disc, little-endian
// 16-bit samples: sector s holds positions s * 2352 ... s * 2352 + 2351.
inline uint8_t VirtualDiscByte(int64_t position) {
    const uint64_t sample = uint64_t(position) >> 1;
    const uint16_t value = uint16_t((sample * 2654435761u) >> 11) ^ uint16_t(sample);
    return (position & 1) ? uint8_t(value >> 8) : uint8_t(value);
}
