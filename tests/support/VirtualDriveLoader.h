// The virtual CD-ROM drive as the tests reach it: loads the test double
// WNASPI32.DLL (tests/aspidrive), describes a world to it and reads its
// command log.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "aspidrive/VirtualDrive.h"

class VirtualDrive {
public:
    VirtualDrive();
    ~VirtualDrive();
    VirtualDrive(const VirtualDrive&) = delete;
    VirtualDrive& operator=(const VirtualDrive&) = delete;
    bool loaded() const { return load_ && count_ && entry_ && locks_; }
    // Describes the world; false (with the failing line) when the text is not understood.
    ::testing::AssertionResult Describe(const std::string& description);
    std::vector<VirtualDriveLogRecord> Log() const;
    size_t LogSize() const { return size_t(count_()); }
    // PREVENT MEDIUM REMOVAL commands the drive carried out, less ALLOW ones.
    int MediumLocks() const { return locks_ ? locks_() : -1; }

private:
    HMODULE module_ = nullptr;
    VirtualDriveLoadProc load_ = nullptr;
    VirtualDriveLogCountProc count_ = nullptr;
    VirtualDriveLogEntryProc entry_ = nullptr;
    VirtualDriveMediumLocksProc locks_ = nullptr;
};

// The bytes of a command block as "12 00 00 00 38 00".
std::string CdbText(const VirtualDriveLogRecord& record);
std::string Hex(const uint8_t* bytes, size_t count);
// Drive statements that fail the READ CD attempts first .. last (counted
// from 1): "fail 0xD8 <n>" lines.
std::string FailedReads(int first, int last);

// Sectors first .. first+count-1 of every virtual disc (VirtualDiscByte), as
// a read that starts `shift` bytes late delivers them; sectors silentFrom ..
// silentTo-1 hold digital silence, as the drive's "silence" statement makes them.
std::vector<uint8_t> VirtualDiscSectors(int32_t first, int count, int64_t shift = 0, int32_t silentFrom = 0,
                                        int32_t silentTo = 0);
// Whether `actual` holds `expected` (and no more bytes than `actualSize`
// allows); a failure names the first differing byte and its sector.
::testing::AssertionResult SameBytes(const std::vector<uint8_t>& expected, const uint8_t* actual, size_t actualSize);
inline ::testing::AssertionResult SameBytes(const std::vector<uint8_t>& expected, const std::vector<uint8_t>& actual) {
    if (expected.size() != actual.size())
        return ::testing::AssertionFailure() << actual.size() << " bytes where " << expected.size() << " were expected";
    return SameBytes(expected, actual.data(), actual.size());
}
