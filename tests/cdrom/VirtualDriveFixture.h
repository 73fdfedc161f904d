// Tests of the device layer against the virtual CD-ROM drive.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/cd/MMASPI.h"
#include "media/cd/MMSPTI.h"
#include "support/VirtualDriveLoader.h"

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
