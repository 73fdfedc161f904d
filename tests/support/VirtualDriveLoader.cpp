#include "support/VirtualDriveLoader.h"

#include <cstdio>

VirtualDrive::VirtualDrive() {
    module_ = ::LoadLibraryA("WNASPI32.DLL");
    if (!module_) return;
    load_ = reinterpret_cast<VirtualDriveLoadProc>(reinterpret_cast<void*>(::GetProcAddress(module_, "VirtualDriveLoad")));
    count_ = reinterpret_cast<VirtualDriveLogCountProc>(
        reinterpret_cast<void*>(::GetProcAddress(module_, "VirtualDriveLogCount")));
    entry_ = reinterpret_cast<VirtualDriveLogEntryProc>(
        reinterpret_cast<void*>(::GetProcAddress(module_, "VirtualDriveLogEntry")));
    locks_ = reinterpret_cast<VirtualDriveMediumLocksProc>(
        reinterpret_cast<void*>(::GetProcAddress(module_, "VirtualDriveMediumLocks")));
}

VirtualDrive::~VirtualDrive() {
    if (module_) ::FreeLibrary(module_);
}

::testing::AssertionResult VirtualDrive::Describe(const std::string& description) {
    const int line = load_(description.c_str());
    if (line == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the virtual drive did not understand line " << line;
}

std::vector<VirtualDriveLogRecord> VirtualDrive::Log() const {
    std::vector<VirtualDriveLogRecord> records(static_cast<size_t>(count_()));
    for (size_t i = 0; i < records.size(); ++i) entry_(int(i), &records[i]);
    return records;
}

std::string Hex(const uint8_t* bytes, size_t count) {
    std::string text;
    char part[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(part, sizeof(part), i ? " %02X" : "%02X", bytes[i]);
        text += part;
    }
    return text;
}

std::string CdbText(const VirtualDriveLogRecord& record) { return Hex(record.cdb, record.cdbLength); }

std::string FailedReads(int first, int last) {
    std::string lines;
    char line[32];
    for (int n = first; n <= last; ++n) {
        std::snprintf(line, sizeof(line), "fail 0xD8 %d\n", n);
        lines += line;
    }
    return lines;
}


std::vector<uint8_t> VirtualDiscSectors(int32_t first, int count, int64_t shift, int32_t silentFrom, int32_t silentTo) {
    constexpr int64_t kSector = 2352;
    std::vector<uint8_t> bytes(size_t(count) * kSector);
    for (size_t i = 0; i < bytes.size(); ++i) {
        const int64_t position = int64_t(first) * kSector + int64_t(i) + shift;
        const bool silent = position >= silentFrom * kSector && position < silentTo * kSector;
        bytes[i] = silent ? 0 : VirtualDiscByte(position);
    }
    return bytes;
}

::testing::AssertionResult SameBytes(const std::vector<uint8_t>& expected, const uint8_t* actual, size_t actualSize) {
    if (actualSize < expected.size())
        return ::testing::AssertionFailure() << "only " << actualSize << " bytes where " << expected.size()
                                             << " were expected";
    for (size_t i = 0; i < expected.size(); ++i)
        if (expected[i] != actual[i])
            return ::testing::AssertionFailure() << "byte " << i << " (sector " << i / 2352 << ") is "
                                                 << int(actual[i]) << ", not " << int(expected[i]);
    return ::testing::AssertionSuccess();
}
