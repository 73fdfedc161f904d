// The virtual CD-ROM drive as the tests drive it: loads the test double
// WNASPI32.DLL, describes a world to it and reads its command log.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "aspidrive/VirtualDrive.h"
#include "media/MMASPI.h"
#include "media/MMSPTI.h"

class VirtualDrive {
public:
    VirtualDrive();
    ~VirtualDrive();
    bool loaded() const { return load_ && count_ && entry_; }
    // Describes the world; false (with the failing line) when the text is not understood.
    ::testing::AssertionResult Describe(const std::string& description);
    std::vector<VirtualDriveLogRecord> Log() const;
    size_t LogSize() const { return size_t(count_()); }

private:
    HMODULE module_ = nullptr;
    VirtualDriveLoadProc load_ = nullptr;
    VirtualDriveLogCountProc count_ = nullptr;
    VirtualDriveLogEntryProc entry_ = nullptr;
};

// The bytes of a command block as "12 00 00 00 38 00".
std::string CdbText(const VirtualDriveLogRecord& record);
std::string Hex(const uint8_t* bytes, size_t count);

class VirtualDriveTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Describes the world and starts a context on it in ASPI mode.
    void Start(const std::string& description);
    // Log entries added since the last Mark().
    void Mark() { mark_ = drive_.LogSize(); }
    std::vector<VirtualDriveLogRecord> Since() const;

    VirtualDrive drive_;
    CDDeviceHandle context_;
    size_t mark_ = 0;
};
