// CD-ROM device access: finding drives, selecting one, setting it up for
// digital audio extraction by its make, and reading the table of contents,
// CD-Text and raw audio sectors.
//
// Three ways to a drive, decided by cdInit: SCSI commands through an ASPI
// manager library (WNASPI32.DLL, C2ASPI.DLL or ASAPI.DLL); the same commands
// through ASPI emulated over the system's SCSI pass-through (MMSPTI); or, in
// IOCTL mode, no SCSI commands at all: drives by letter, audio by the raw-read
// control code, status through the media control interface.
//
// Every operation returns a status (0, or a CDErr* code of MMCDATyp.h) and
// never throws.
//
// Threads: the operations run on their caller's thread (the user-interface
// thread, or the CD reader's burst thread for reads). The context's lock is
// held by every SCSI request and every IOCTL raw read, and guards the burst
// hand-over fields; `abort` and `busy` are atomics, so cdAbort, cdDone and a
// burst stop can reach a request in progress without the lock. The copy
// modes (burst and synchronised reading) live in MMASPIRead.cpp, which says
// how their thread and buffers work.
#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/Handles.h"
#include "media/cd/MMCDATyp.h"
#include "media/cd/MMDDK.h"
#include "media/cd/MMSCSI.h"

struct CDDeviceEntry {
    uint8_t adapter = 0;
    uint8_t target = 0;
    uint8_t lun = 0;
    std::array<uint8_t, CDInquiryLength> inquiry{};  // vendor at 8-15, product at 16-31
};

// The burst reader: a thread of its own fills two buffers ahead of the
// consumer (cdStartBurst .. cdStopBurst). The context's lock guards `fill`,
// `counts`, `current` and `remaining`; `fillIndex` belongs to the thread,
// `readIndex` to the consumer; the buffers, events and the thread handle are
// set up before the thread starts and released after it ended.
struct CDBurstState {
    enum class Fill : uint8_t { Empty, Requested, Filled };
    std::array<std::vector<uint8_t>, 2> buffers;  // sectorsPerRead x 2368 bytes each
    std::array<Fill, 2> fill{};
    std::array<int, 2> counts{};  // sectors of a filled buffer: 0 at the end, -2 after a failed read
    int sectorsPerRead = 0;
    int32_t current = 0;    // the next sector the thread reads
    int32_t remaining = 0;  // sectors the thread has still to read
    int fillIndex = 0;
    int readIndex = 0;
    std::atomic<bool> stop{false};
    wc::KernelHandle requestEvent;  // auto-reset: the consumer asks for a fill
    wc::KernelHandle signalEvent;   // auto-reset: the thread has started, or ended
    wc::KernelHandle thread;
};

// Synchronised reading (cdStartSync .. cdStopSync), on the consumer's thread
// only: overlapping passes matched against the previous pass's last quarter.
struct CDSyncState {
    bool running = false;
    int sectorsPerRead = 0;
    int32_t current = 0;  // the first sector of the next pass
    int32_t end = 0;      // one past the last sector wanted
    int64_t wanted = 0;   // bytes still to hand out
    bool havePrevious = false;
    std::vector<uint8_t> data;     // one pass: 2 x sectorsPerRead sectors
    std::vector<uint8_t> compare;  // the last quarter of the previous pass
    int64_t outPos = 0;            // data[outPos .. outEnd) is not handed out yet
    int64_t outEnd = 0;
};

struct CDDeviceContext {
    wc::CriticalSection lock;
    int selected = -2;
    char driveLetter = 0;
    std::string mciAlias;  // empty when no MCI device is open
    std::vector<CDDeviceEntry> devices;
    int current = -1;      // index of the selected entry in `devices`
    int driveType = CDTypeInitial;
    int sectorSize = CDRawSectorSize;
    bool byteSwap = false;
    CDReadMethod readMethod = rmReadCD;
    bool typeTested = false;
    bool mmcCapable = false;
    int speed = 0;
    bool opened = false;
    bool firstRead = false;
    std::atomic<bool> abort{false};
    std::atomic<bool> busy{false};
    bool aspiMode = false;
    bool ioctlMode = false;
    SendASPI32CommandProc send = nullptr;
    GetASPI32SupportInfoProc supportInfo = nullptr;
    wc::KernelHandle completionEvent;
    wc::FileHandle ioctlDevice;
    CDRawReadInfo rawRead{};
    // From the last TOC read: the first sector of the first audio track and
    // the end of the audio area.
    int32_t firstAudioSector = 0;
    int32_t audioEnd = 0;
    // The read engine's copy modes.
    CDBurstState burst;
    CDSyncState sync;
};

using CDDeviceHandle = std::unique_ptr<CDDeviceContext>;

// Starts a context. `ioctlPreferred` in: prefer drive letters (NT family);
// out: whether IOCTL mode is in force. `status` 0 when a mode was entered.
CDDeviceHandle cdInit(int& status, bool& ioctlPreferred);
// Closes, waits up to 10000 ms for an outstanding ASPI request, frees; clears `context`.
int cdDone(CDDeviceHandle& context);
int cdGetNumDevices(CDDeviceContext* context);
int cdSetDevice(CDDeviceContext* context, int index);
// Copies the name with its terminator, cut to `size` bytes.
int cdGetDeviceName(CDDeviceContext* context, int index, char* buffer, int size);
int cdGetDriveLetter(CDDeviceContext* context, int index, char& letter);
int cdSetDriveType(CDDeviceContext* context, int type, bool apply);
int cdOpen(CDDeviceContext* context, bool rawOnly);
int cdClose(CDDeviceContext* context);
int cdMediaPresent(CDDeviceContext* context);
int cdSetSpeed(CDDeviceContext* context, int speed);
int cdReadTOC(CDDeviceContext* context, CDTrackList& toc);
int cdReadCDText(CDDeviceContext* context, CDTextInfo& text);
int cdLockDevice(CDDeviceContext* context, bool lock);
int cdStop(CDDeviceContext* context);
// One read of `count` (1 .. 255) sectors with the drive's read method, no
// retries; the data arrives as 2352-byte sectors in host byte order.
// `bufferSize` must hold count sectors of the drive's sector size.
int cdReadSectorsOnce(CDDeviceContext* context, uint8_t* buffer, int64_t bufferSize, int32_t first, int count);
// The read with retries that every copy mode uses.
int cdReadSectors(CDDeviceContext* context, uint8_t* buffer, int64_t bufferSize, int32_t first, int count);
int cdAbort(CDDeviceContext* context);

// Burst mode: a reader thread fills two buffers of sectorsPerRead sectors ahead of the consumer.
// Reads sectors first .. first+count-1. Answers 0, or -1 when the device is not open,
// CDErrNoMemory, or the thread start failure. Waits up to 5000 ms for the thread to announce itself.
int cdStartBurst(CDDeviceContext* context, int32_t first, int32_t count, int sectorsPerRead);
// Copies the next filled buffer into `buffer` (bufferSize >= sectorsPerRead * 2352) and requests
// the following fill. Answers the sectors copied (0 at the end), or -15 when the buffer stayed
// empty or its read failed.
int cdReadBurst(CDDeviceContext* context, uint8_t* buffer, int64_t bufferSize);
// Stops the thread: asks it (1000 ms), then cancels its device call, and terminates it only
// while holding the lock; frees the buffers. Harmless when burst mode is not running.
// CDErrStop when the thread kept the lock past every bound (its buffers then stay).
int cdStopBurst(CDDeviceContext* context);

// Synchronised mode: overlapping passes of 2*sectorsPerRead sectors advancing by sectorsPerRead,
// matched against the previous pass's last quarter.
int cdStartSync(CDDeviceContext* context, int32_t first, int32_t count, int sectorsPerRead);
// Copies up to `bytes` bytes of synchronised data in order. Answers the bytes copied (0 at the
// end), or a negative status (-16 "Synchronisation failed", -15 "Unable to read audio data", ...).
int64_t cdReadSync(CDDeviceContext* context, uint8_t* buffer, int64_t bytes);
// Frees the synchronised buffers. Harmless when not running.
int cdStopSync(CDDeviceContext* context);
// 0, or CDErrNoMemory (-100) for an unknown code; the text is copied with its
// terminator, cut to `size` bytes.
int cdGetErrorText(int code, char* buffer, int size);

// Releases the ASPI manager bound for the process (a new platform is set).
void CDForgetManager();
// Replaces the platform of the CD-ROM layer (nullptr: the system's again)
// and forgets the process-wide state: the bound ASPI manager and the
// pass-through device list. Not while a device context lives.
class CDPlatform;
void CDSetPlatform(CDPlatform* platform);

// Parses the packs of a CD-Text READ TOC answer (4-byte header, 18-byte
// packs) into the text block slots.
void CDParseTextPacks(const uint8_t* data, int64_t size, CDTextInfo& text);

// Compacts `count` sectors of `sectorSize` bytes to 2352-byte sectors in place.
void CDCompactSectors(uint8_t* buffer, int count, int sectorSize);
// Swaps the bytes of every 16-bit sample.
void CDSwapSamples(uint8_t* buffer, int64_t bytes);
