// What the wave chooser asks of the system while one SystemCallWatch lives:
// the wave files it opens, reads and closes, and the wave output
// devices it opens, feeds and closes (see support/ImportPatch.h). Reads of
// the waveform scan can be slowed down, so that a scan in progress can be
// looked at and interrupted.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace wavedialog_tests {

class SystemCallWatch {
public:
    SystemCallWatch();  // one at a time
    ~SystemCallWatch();
    SystemCallWatch(const SystemCallWatch&) = delete;
    SystemCallWatch& operator=(const SystemCallWatch&) = delete;

    // Every call was seen: the executable imports all the watched functions.
    bool Complete() const;

    // How often the file was opened (names compared without case).
    int OpensOf(const std::string& path) const;
    // Wave files open now.
    int OpenFiles() const;
    // Bytes read from the file so far.
    int64_t BytesReadFrom(const std::string& path) const;
    // Wave output devices open now, and opened in all (format queries open none).
    int OpenDevices() const;
    int DeviceOpens() const;
    // The lengths of the buffers handed to the wave output device, in order.
    std::vector<DWORD> Writes() const;
    void ClearWrites();
    // From now on every read of at least `minBytes` waits `delayMs` first.
    void SlowReads(DWORD delayMs, LONG minBytes);
};

}  // namespace wavedialog_tests
