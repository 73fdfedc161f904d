// Audio CD tracks as a PCM source of the processing chain (16-bit stereo,
// 44100 Hz), and the process-wide list of CD-ROM drive letters with their
// medium lock counts.
//
// TMMCDReader owns one CD device context: it lists the drives, selects one,
// reads the table of contents and CD-Text, and delivers a chosen sector range
// in one of three copy modes: plain reads with retries (cmNormal), a reader
// thread filling two buffers ahead (cmBurst), or overlapping passes matched
// against each other to cancel the drive's jitter (cmSync).
//
// Threads: every public operation runs on the user-interface thread. A chain
// in thread mode runs BufferLoad (and so the reads, OnDataRead and
// OnDataReadEnd) on its worker while the user-interface thread may call
// Abort and, in cmNormal, SetPosition. `serveLock_` guards the position
// (range start, current sector) and the block buffer's counts between a
// serve and SetPosition; Abort takes no lock, so that it reaches a serve in
// progress: `aborting_` is atomic, and the device context guards its own
// state (its lock, its atomic abort and busy flags). In cmBurst the device
// layer runs one reader thread of its own between Start and Stop.
// TMMCDDrives is used on the user-interface thread only.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/Handles.h"
#include "framework/StringList.h"
#include "media/cd/MMASPI.h"
#include "media/cd/MMCDATyp.h"
#include "media/playback/MMDSPObj.h"
#include "media/wave/MMWaveFormats.h"

// ---- time units ----

inline constexpr int32_t CDFramesPerSecond = 75;
// Packed MSF (minutes low byte, seconds, frames) in milliseconds, rounded.
int32_t CDMSFToMs(uint32_t msf);
// Milliseconds as packed MSF, frames rounded.
uint32_t CDMsToMSF(int32_t ms);

// ---- drives ----

// The CD-ROM drive letters "D" to "Z" of the system, each with the number of
// readers that hold its medium locked.
class TMMCDDrives {
public:
    // Lists the letters whose root the system reports as a CD-ROM drive.
    TMMCDDrives();

    // Upper-case drive letters.
    const wc::TStringList& Letters() const noexcept { return letters_; }
    // The index of a letter (either case), or -1.
    int IndexOf(char letter) const;
    // The new count; -1 for an unknown letter.
    int IncLockCount(char letter);
    // The new count; -1 for an unknown letter or a count already 0.
    int DecLockCount(char letter);
    int LockCount(char letter) const;

private:
    // One per letter, in the order of `letters_`; the third word is the lock count.
    struct Record {
        int32_t reserved[2] = {0, 0};
        int32_t lockCount = 0;
    };
    static_assert(sizeof(Record) == 12, "a drive record is three 32-bit words");

    wc::TStringList letters_;
    std::vector<Record> records_;
};

// The process-wide drive list, made at start-up.
TMMCDDrives& CDDrives();

// ---- reader ----

enum TMMCDCopyMode { cmNormal, cmBurst, cmSync };

// One drive the device layer can reach.
struct TMMCDDeviceInfo {
    int32_t Index = 0;  // the device layer's index of the drive
    std::string DeviceName;
    char DriveLetter = 0;
    int32_t DeviceType = CDTypeAutoDetect;  // index into CDDriveTypeNames
    int32_t Reserved = -1;
    uint8_t Flag = 1;
};
using TMMCDDeviceList = std::vector<TMMCDDeviceInfo>;

// One entry of the speed list: its caption and the value SET CD SPEED gets.
struct TMMCDSpeed {
    std::string Name;
    int32_t Value = 0;
};
inline constexpr int32_t CDSpeedMaximum = 0xFFFF;

inline constexpr int32_t CDNoDevice = -2;
inline constexpr int32_t CDDefaultBlockCount = 10;
// The device layer's reads carry one sector-count byte.
inline constexpr int32_t CDMaxBlockCount = 255;
// Above this BlockCount a synchronised pass (twice the sectors per read)
// would be too long: cmSync then reads BlockCount / 2 per pass.
inline constexpr int32_t CDSyncHalvingAbove = 13;
inline constexpr int32_t CDMaxCopyVolume = 32768;
inline constexpr int32_t CDDefaultCopyVolume = 16384;

class TMMCDReader : public TMMDSPComponent {
public:
    // Starts the device context and lists the drives; a failed start is
    // kept and raised by the operations that need the device.
    explicit TMMCDReader(wc::TComponent* owner);
    ~TMMCDReader() override;
    static const char* ClassName() { return "TMMCDReader"; }

    // ---- published, in order ----
    wc::TNotifyEvent OnDataRead;     // before a request is served
    wc::TNotifyEvent OnDataReadEnd;  // after it was served
    // Output: TMMDSPComponent's.
    bool Enabled() const noexcept { return enabled_; }
    void SetEnabled(bool value) noexcept { enabled_ = value; }
    // Sectors per read, 1 .. 255.
    int32_t BlockCount() const noexcept { return blockCount_; }
    void SetBlockCount(int32_t value);
    TMMCDCopyMode CopyMode() const noexcept { return copyMode_; }
    void SetCopyMode(TMMCDCopyMode value);
    int32_t DeviceID() const noexcept { return deviceId_; }
    void SetDeviceID(int32_t value);
    std::string DeviceName() const;
    void SetDeviceName(const std::string&) {}
    char DriveLetter() const;
    void SetDriveLetter(char) {}
    int32_t DeviceType() const;
    void SetDeviceType(int32_t value);
    // Gain of both channels, 16384 = unity; held to 0 .. 32768.
    int32_t CopyVolume() const noexcept { return copyVolume_; }
    void SetCopyVolume(int32_t value) noexcept;
    bool IgnoreSpeed() const noexcept { return ignoreSpeed_; }
    void SetIgnoreSpeed(bool value);

    // ---- drive and disc ----
    const TMMCDDeviceList& Devices() const noexcept { return devices_; }
    const std::vector<TMMCDSpeed>& Speeds() const noexcept { return speeds_; }
    // The value SET CD SPEED gets when opened (-1 at first).
    int32_t Speed() const noexcept { return speed_; }
    void SetSpeed(int32_t value);
    bool MediaPresent();
    // Counted per drive in CDDrives(): only the first lock and the last
    // unlock reach the drive. False when the drive refused that command.
    bool LockMedium();
    bool UnlockMedium();
    bool MediumLocked() const noexcept { return locks_ > 0; }
    void StopAudio();
    // Clears the track list; true when a medium is present and the table was read.
    bool ReadTOC();
    bool TOCValid() const noexcept { return tocValid_; }
    const CDTrackList& Tracks() const noexcept { return tracks_; }
    // True when a medium is present and at least one text block was filled.
    bool ReadCDText();
    const CDTextInfo& CDText() const noexcept { return cdText_; }
    // The filled text block slots among the first seven.
    int CDTextBlockCount() const;

    // ---- range ----
    // Start (lead-in included) and length as packed MSF; the reads stop
    // before the last sector, so the range covers length - 1 sectors.
    void SetRange(uint32_t startMSF, uint32_t lengthMSF);
    void SelectTrack(int index);
    void SetPosition(int32_t sector);
    int32_t FirstSector() const noexcept { return firstSector_; }
    int32_t EndSector() const noexcept { return endSector_; }
    int32_t RangeStart() const noexcept { return rangeStart_; }
    int32_t CurrentSector() const noexcept { return currentSector_; }
    void Abort();

    bool ReaderOpened() const noexcept { return readerOpened_; }
    bool ReaderStarted() const noexcept { return readerStarted_; }
    CDDeviceContext* Context() const noexcept { return context_.get(); }

    // ---- chain ----
    // Refuses any format but the reader's own.
    void SetPWaveFormat(const WAVEFORMATEX* format) override;
    void Opened() override;
    void Closed() override;
    void Started() override;
    void Stopped() override;
    void Rewound() override;
    void BufferLoad(WaveHdrEx* header, bool& moreBuffers) override;

    bool PublishesOutput() const override { return true; }
    bool SetProperty(const std::string& name, const wc::LayoutValue& value) override;

private:
    [[noreturn]] void RaiseStatus(int status) const;
    void CheckStarted() const;
    void CheckClosed() const;
    TMMCDDeviceInfo* SelectedEntry();
    const TMMCDDeviceInfo* SelectedEntry() const;
    void ResetSpeeds();
    void ResetBuffer() noexcept;

    void OpenReader();
    void CloseReader();
    void StartReader();
    void StopReader();
    // Fills `dest` with up to `wanted` bytes; answers the bytes delivered.
    int64_t Serve(uint8_t* dest, int64_t wanted);
    // Reads the next `count` sectors in the copy mode into `buffer` (which
    // holds `capacity` bytes); answers the bytes produced, or -1 when the
    // read failed while stopping or aborting.
    int64_t ReadBlock(uint8_t* buffer, int64_t capacity, int count);
    // Bytes `buffer` must hold to take `count` sectors in the copy mode.
    int64_t Needed(int count) const;

    CDDeviceHandle context_;
    int startStatus_ = 0;
    CDTrackList tracks_;
    CDTextInfo cdText_;
    std::vector<TMMCDSpeed> speeds_;
    TMMCDDeviceList devices_;
    WAVEFORMATEX format_{};

    bool enabled_ = true;
    int32_t blockCount_ = CDDefaultBlockCount;
    TMMCDCopyMode copyMode_ = cmNormal;
    int32_t deviceId_ = CDNoDevice;
    int32_t copyVolume_ = CDDefaultCopyVolume;
    bool ignoreSpeed_ = false;
    int32_t speed_ = -1;

    bool readerOpened_ = false;
    bool readerStarted_ = false;
    std::atomic<bool> aborting_{false};
    wc::CriticalSection serveLock_;
    int locks_ = 0;          // LockMedium calls not yet undone
    char lockedLetter_ = 0;  // the drive whose count they took
    bool tocValid_ = false;

    int32_t firstSector_ = 0;
    int32_t endSector_ = 0;
    int32_t rangeStart_ = 0;
    int32_t currentSector_ = 0;

    int sectorsPerRead_ = CDDefaultBlockCount;  // fixed when opened
    std::vector<uint8_t> block_;                // sectorsPerRead_ * 2368 bytes while opened
    int64_t blockFilled_ = 0;
    int64_t blockRead_ = 0;
};

// Whether the program was started with "/G" or "-G" (any case): the drives
// are then reached by letter rather than through an ASPI manager. Looked up
// once per process.
bool CDCommandLinePrefersIoctl();
