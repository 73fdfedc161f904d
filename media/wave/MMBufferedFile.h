// Buffered access to one file with 64-bit offsets, beneath the wave layer:
// the system's multimedia file I/O addresses files through signed 32-bit
// offsets and stops at 2 GiB, wave files do not.
//
// How it works. One buffer serves either reads (a window of the file that is
// read ahead) or writes (bytes collected behind one file offset); it is
// written out before anything else happens to the file. A read at least as
// large as the buffer goes straight from the file into the caller's memory,
// one copy less. Positions live here; the system's file pointer is moved
// only when a transfer does not start where the previous one ended. A
// transfer that names its offset (through an OVERLAPPED record) would need
// no pointer, but under Wine each such call costs a round trip to the Wine
// server, some 50 microseconds, more than copying 128 KiB out of the file
// cache: reading a file in 32 KiB pieces that way ran at a quarter of the
// speed of plain ReadFile calls.
//
// Threads: an object is used by one thread at a time (the wave object's
// rules); it takes no lock.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "framework/Handles.h"

class BufferedFile {
public:
    enum class Access { Read, ReadWrite, Create };
    // What the wave layer asked of the system's file I/O by default.
    static constexpr int32_t kDefaultBufferSize = 8192;

    BufferedFile() = default;
    BufferedFile(BufferedFile&&) noexcept = default;
    BufferedFile& operator=(BufferedFile&& other) noexcept;
    BufferedFile(const BufferedFile&) = delete;
    BufferedFile& operator=(const BufferedFile&) = delete;
    ~BufferedFile() { reset(); }

    // Opens (Create: makes or empties) the file named by the path string,
    // through wc::PathToWide. False, leaving this closed, on failure.
    bool Open(std::string_view path, Access access);
    // Writes out what is collected (best effort) and closes.
    void reset() noexcept;
    bool valid() const noexcept { return file_.valid(); }
    explicit operator bool() const noexcept { return valid(); }

    int64_t Tell() const noexcept { return position_; }
    // Any offset from 0 up, also past the end (a read there gives 0 bytes).
    bool Seek(int64_t offset) noexcept;
    // The file's size, collected writes included; -1 on failure.
    int64_t Size() noexcept;
    // Bytes read at the position (fewer at the end of the file), -1 on failure.
    int64_t Read(void* buffer, int64_t count) noexcept;
    // Writes all bytes at the position; false on failure.
    bool Write(const void* buffer, int64_t count) noexcept;
    bool Flush() noexcept;
    // The buffer's size from now on (0: none); the position stays.
    bool SetBufferSize(int32_t size) noexcept;
    int32_t BufferSize() const noexcept { return bufferSize_; }
    // Cuts (or extends) the file to `size` bytes.
    bool Truncate(int64_t size) noexcept;

private:
    bool ReadAt(int64_t offset, void* buffer, DWORD count, DWORD& got) noexcept;
    bool WriteAt(int64_t offset, const void* buffer, int64_t count) noexcept;
    // Moves the system's file pointer to `offset` unless it stands there.
    bool PlacePointer(int64_t offset) noexcept;

    wc::FileHandle file_;
    int32_t bufferSize_ = kDefaultBufferSize;
    std::vector<uint8_t> buffer_;
    int64_t bufferStart_ = 0;   // file offset of buffer_[0]
    size_t bufferFill_ = 0;     // valid bytes in buffer_ (read ahead or collected)
    bool collecting_ = false;   // buffer_ holds bytes still to be written
    int64_t position_ = 0;
    int64_t pointer_ = 0;       // where the system's file pointer stands; -1: not known
};
