// Threads: see the header.
#include "media/cd/MMCDRead.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "media/MMErrors.h"
#include "media/codecs/MMPCMSup.h"

namespace {

constexpr int kSampleRate = 44100;
constexpr int kChannels = 2;
constexpr int kBits = 16;
// Room for the device layer's longest sectors (2352 bytes of audio and 16 more).
constexpr int kBlockSectorBytes = CDLargeSectorSize;
constexpr int kErrorTextSize = 256;
constexpr int kDeviceNameSize = 256;

// How the readers of the process reach the drives: "/G" on the command line
// asks for drive letters, and the first reader whose device layer started
// decides for every later one, so that all of them take the same path.
// Used on the user-interface thread only.
struct ProcessAccess {
    bool decided = false;
    bool byLetter = false;
};
ProcessAccess gAccess;

bool SameFormat(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
    return a.wFormatTag == b.wFormatTag && a.nChannels == b.nChannels && a.nSamplesPerSec == b.nSamplesPerSec &&
           a.nAvgBytesPerSec == b.nAvgBytesPerSec && a.nBlockAlign == b.nBlockAlign &&
           a.wBitsPerSample == b.wBitsPerSample;
}

std::string ErrorText(int status) {
    char text[kErrorTextSize] = {};
    cdGetErrorText(status, text, sizeof text);
    return text;
}

// The words of the command line after the program's name, quotes removed.
std::vector<std::string> CommandLineWords() {
    const char* line = ::GetCommandLineA();
    std::vector<std::string> words;
    if (!line) return words;
    std::string word;
    bool quoted = false, inWord = false;
    for (const char* p = line; *p; ++p) {
        if (*p == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (*p == ' ' || *p == '\t')) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word.push_back(*p);
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    if (!words.empty()) words.erase(words.begin());
    return words;
}

}  // namespace

// ---- time units ----

int32_t CDMSFToMs(uint32_t msf) {
    const int32_t minutes = int32_t(msf & 0xFF), seconds = int32_t((msf >> 8) & 0xFF), frames = int32_t((msf >> 16) & 0xFF);
    // frames * 1000 / 75, rounded half up.
    return 60000 * minutes + 1000 * seconds + (frames * 2000 + CDFramesPerSecond) / (2 * CDFramesPerSecond);
}

uint32_t CDMsToMSF(int32_t ms) {
    if (ms < 0) ms = 0;
    const uint32_t minutes = uint32_t(ms / 60000), seconds = uint32_t((ms % 60000) / 1000);
    // (ms mod 1000) * 0.075, rounded half up.
    const uint32_t frames = (uint32_t(ms % 1000) * 3 + 20) / 40;
    return (minutes & 0xFF) | (seconds << 8) | (frames << 16);
}

// ---- drives ----

TMMCDDrives::TMMCDDrives() {
    for (char letter = 'd'; letter <= 'z'; ++letter) {
        const char root[4] = {letter, ':', '\\', 0};
        if (::GetDriveTypeA(root) != DRIVE_CDROM) continue;
        letters_.Add(std::string(1, char(std::toupper(static_cast<unsigned char>(letter)))));
        records_.push_back(Record{});
    }
}

int TMMCDDrives::IndexOf(char letter) const {
    const std::string wanted(1, char(std::toupper(static_cast<unsigned char>(letter))));
    for (size_t i = 0; i < letters_.Count(); ++i)
        if (letters_[i] == wanted) return int(i);
    return -1;
}

int TMMCDDrives::IncLockCount(char letter) {
    const int index = IndexOf(letter);
    if (index < 0) return -1;
    return ++records_[size_t(index)].lockCount;
}

int TMMCDDrives::DecLockCount(char letter) {
    const int index = IndexOf(letter);
    if (index < 0 || records_[size_t(index)].lockCount == 0) return -1;
    return --records_[size_t(index)].lockCount;
}

int TMMCDDrives::LockCount(char letter) const {
    const int index = IndexOf(letter);
    return index < 0 ? -1 : records_[size_t(index)].lockCount;
}

TMMCDDrives& CDDrives() {
    static TMMCDDrives drives;
    return drives;
}

namespace {
// The list is made at start-up, not on first use.
[[maybe_unused]] TMMCDDrives& gDrivesAtStartUp = CDDrives();
}  // namespace

bool CDCommandLinePrefersIoctl() {
    static const bool prefers = [] {
        for (const std::string& word : CommandLineWords())
            if (word.size() == 2 && (word[0] == '/' || word[0] == '-') && (word[1] == 'g' || word[1] == 'G'))
                return true;
        return false;
    }();
    return prefers;
}

// ---- reader ----

TMMCDReader::TMMCDReader(wc::TComponent* owner) : TMMDSPComponent(owner) {
    format_.wFormatTag = WAVE_FORMAT_PCM;
    format_.nChannels = kChannels;
    format_.nSamplesPerSec = kSampleRate;
    format_.wBitsPerSample = kBits;
    format_.nBlockAlign = kChannels * kBits / 8;
    format_.nAvgBytesPerSec = kSampleRate * format_.nBlockAlign;
    format_.cbSize = 0;
    TMMDSPComponent::SetPWaveFormat(&format_);

    bool byLetter = gAccess.decided ? gAccess.byLetter : CDCommandLinePrefersIoctl();
    context_ = cdInit(startStatus_, byLetter);
    if (!context_ && startStatus_ == 0) startStatus_ = CDErrNoMemory;
    if (!gAccess.decided && startStatus_ == 0) gAccess = {true, byLetter};

    ResetSpeeds();
    if (!context_) return;
    const int count = cdGetNumDevices(context_.get());
    for (int index = 0; index < count; ++index) {
        char name[kDeviceNameSize] = {};
        char letter = 0;
        if (cdGetDeviceName(context_.get(), index, name, sizeof name) != 0) continue;
        if (cdGetDriveLetter(context_.get(), index, letter) != 0 || !letter) continue;
        TMMCDDeviceInfo info;
        info.Index = index;
        info.DeviceName = name;
        info.DriveLetter = letter;
        devices_.push_back(info);
    }
}

TMMCDReader::~TMMCDReader() {
    try {
        StopReader();
        CloseReader();
    } catch (...) {
        // Destruction goes on whatever the device answered.
    }
    while (locks_ > 0) UnlockMedium();
    DetachFromChain();
    cdDone(context_);
}

void TMMCDReader::RaiseStatus(int status) const { throw EMMCDDAError(ErrorText(status)); }

void TMMCDReader::CheckStarted() const {
    if (startStatus_ != 0 || !context_) RaiseStatus(startStatus_ != 0 ? startStatus_ : CDErrNoMemory);
}

void TMMCDReader::CheckClosed() const {
    if (readerOpened_) RaiseMMError<EMMCDDAError>(MMMsg::PropertyWhileOpen);
}

TMMCDDeviceInfo* TMMCDReader::SelectedEntry() {
    if (deviceId_ < 0 || size_t(deviceId_) >= devices_.size()) return nullptr;
    return &devices_[size_t(deviceId_)];
}

const TMMCDDeviceInfo* TMMCDReader::SelectedEntry() const {
    if (deviceId_ < 0 || size_t(deviceId_) >= devices_.size()) return nullptr;
    return &devices_[size_t(deviceId_)];
}

void TMMCDReader::ResetSpeeds() { speeds_.assign(1, TMMCDSpeed{"Default", CDSpeedMaximum}); }

void TMMCDReader::ResetBuffer() noexcept {
    blockFilled_ = 0;
    blockRead_ = 0;
}

// ---- properties ----

void TMMCDReader::SetBlockCount(int32_t value) {
    // No sector at all per read would never reach the end of the range.
    blockCount_ = std::clamp(value, 1, CDMaxBlockCount);
}

void TMMCDReader::SetCopyMode(TMMCDCopyMode value) {
    CheckClosed();
    copyMode_ = value;
}

void TMMCDReader::SetDeviceID(int32_t value) {
    CheckClosed();
    if (value == deviceId_) return;
    CheckStarted();
    if (value < 0) {
        cdSetDevice(context_.get(), -1);  // deselects; answers "Invalid DeviceID" by design
        deviceId_ = CDNoDevice;
    } else {
        if (size_t(value) >= devices_.size()) RaiseStatus(CDErrInvalidDevice);
        const TMMCDDeviceInfo& entry = devices_[size_t(value)];
        int status = cdSetDevice(context_.get(), entry.Index);
        if (status != 0) RaiseStatus(status);
        deviceId_ = value;
        status = cdSetDriveType(context_.get(), entry.DeviceType, false);
        if (status != 0) RaiseStatus(status);
    }
    for (auto& block : cdText_) block.reset();
    tracks_.count = 0;
    tocValid_ = false;
    ResetSpeeds();
}

std::string TMMCDReader::DeviceName() const {
    const TMMCDDeviceInfo* entry = SelectedEntry();
    if (!entry) RaiseMMError<EMMCDDAError>(MMMsg::InvalidDeviceId);
    return entry->DeviceName;
}

char TMMCDReader::DriveLetter() const {
    const TMMCDDeviceInfo* entry = SelectedEntry();
    if (!entry) RaiseMMError<EMMCDDAError>(MMMsg::InvalidDeviceId);
    return entry->DriveLetter;
}

int32_t TMMCDReader::DeviceType() const {
    if (const TMMCDDeviceInfo* entry = SelectedEntry()) return entry->DeviceType;
    return context_ ? context_->driveType : CDTypeAutoDetect;
}

void TMMCDReader::SetDeviceType(int32_t value) {
    CheckStarted();
    const int status = cdSetDriveType(context_.get(), value, false);
    if (status != 0) RaiseStatus(status);
    if (TMMCDDeviceInfo* entry = SelectedEntry()) entry->DeviceType = value;
}

void TMMCDReader::SetCopyVolume(int32_t value) noexcept { copyVolume_ = std::clamp(value, 0, CDMaxCopyVolume); }

void TMMCDReader::SetIgnoreSpeed(bool value) {
    CheckClosed();
    ignoreSpeed_ = value;
}

void TMMCDReader::SetSpeed(int32_t value) {
    CheckClosed();
    speed_ = value;
}

// ---- drive and disc ----

bool TMMCDReader::MediaPresent() {
    CheckStarted();
    return cdMediaPresent(context_.get()) == 0;
}

bool TMMCDReader::LockMedium() {
    CheckStarted();
    const char letter = DriveLetter();
    // Only the first lock of a drive in the process reaches the drive. A
    // drive that refuses (or cannot be reached by letter while closed) still
    // plays: the lock only keeps the disc in. The count follows what the
    // drive accepted, so the next lock asks the drive again.
    if (CDDrives().IncLockCount(letter) == 1 && cdLockDevice(context_.get(), true) != 0) {
        CDDrives().DecLockCount(letter);
        return false;
    }
    lockedLetter_ = letter;
    ++locks_;
    return true;
}

bool TMMCDReader::UnlockMedium() {
    CheckStarted();
    if (locks_ == 0) return true;  // never take back another reader's lock
    --locks_;
    // Only the last unlock of a drive in the process reaches the drive.
    if (CDDrives().DecLockCount(lockedLetter_) != 0) return true;
    return cdLockDevice(context_.get(), false) == 0;
}

void TMMCDReader::StopAudio() {
    CheckStarted();
    cdStop(context_.get());
}

bool TMMCDReader::ReadTOC() {
    CheckStarted();
    tracks_.count = 0;
    tocValid_ = MediaPresent() && cdReadTOC(context_.get(), tracks_) == 0;
    return tocValid_;
}

bool TMMCDReader::ReadCDText() {
    CheckStarted();
    return MediaPresent() && cdReadCDText(context_.get(), cdText_) == 0 && CDTextBlockCount() > 0;
}

int TMMCDReader::CDTextBlockCount() const {
    return int(std::count_if(cdText_.begin(), cdText_.begin() + 7, [](const auto& block) { return block != nullptr; }));
}

// ---- range ----

void TMMCDReader::SetRange(uint32_t startMSF, uint32_t lengthMSF) {
    CheckClosed();
    firstSector_ = int32_t(CDMSFToFrames(startMSF)) - CDLeadIn;
    endSector_ = firstSector_ + int32_t(CDMSFToFrames(lengthMSF)) - 1;
    rangeStart_ = firstSector_;
    currentSector_ = firstSector_;
    ResetBuffer();
}

void TMMCDReader::SelectTrack(int index) {
    if (index < 0 || index >= tracks_.count) RaiseStatus(CDErrInvalidParam);
    const CDTrackEntry& track = tracks_.tracks[size_t(index)];
    SetRange(track.start, track.length);
}

void TMMCDReader::SetPosition(int32_t sector) {
    if (readerOpened_ && copyMode_ != cmNormal) RaiseMMError<EMMCDDAError>(MMMsg::PropertyWhileOpen);
    // A serve in progress on the chain's worker finishes first.
    wc::CriticalSectionLock hold(serveLock_);
    rangeStart_ = sector;
    currentSector_ = sector;
    ResetBuffer();
}

void TMMCDReader::Abort() {
    if (!readerStarted_ || aborting_.exchange(true)) return;
    cdAbort(context_.get());
}

// ---- open, start, stop, close ----

void TMMCDReader::OpenReader() {
    if (readerOpened_) return;
    CheckStarted();
    StopAudio();
    sectorsPerRead_ = (blockCount_ > CDSyncHalvingAbove && copyMode_ == cmSync) ? blockCount_ / 2 : blockCount_;
    block_.assign(size_t(sectorsPerRead_) * kBlockSectorBytes, 0);
    ResetBuffer();
    currentSector_ = rangeStart_;
    cdClose(context_.get());
    const int status = cdOpen(context_.get(), true);
    if (status != 0) {
        block_ = {};
        RaiseStatus(status);
    }
    // A drive that takes no speed command reads at its own pace.
    cdSetSpeed(context_.get(), ignoreSpeed_ ? CDSpeedMaximum : speed_);
    readerOpened_ = true;
}

void TMMCDReader::CloseReader() {
    if (!readerOpened_) return;
    readerOpened_ = false;
    block_ = {};
    ResetBuffer();
    const int status = cdClose(context_.get());
    if (status != 0) RaiseStatus(status);
}

void TMMCDReader::StartReader() {
    if (!readerOpened_ || readerStarted_) return;
    ResetBuffer();
    currentSector_ = rangeStart_;
    aborting_ = false;
    LockMedium();  // a drive that refuses the lock still reads
    const int32_t count = std::max(endSector_ - currentSector_, 0);
    int status = 0;
    if (copyMode_ == cmBurst) status = cdStartBurst(context_.get(), currentSector_, count, sectorsPerRead_);
    if (copyMode_ == cmSync) status = cdStartSync(context_.get(), currentSector_, count, sectorsPerRead_);
    if (status != 0) {
        UnlockMedium();
        RaiseStatus(status);
    }
    readerStarted_ = true;
}

void TMMCDReader::StopReader() {
    if (!readerStarted_) return;
    readerStarted_ = false;
    // The reader thread ends before the medium may leave the drive.
    if (copyMode_ == cmBurst) cdStopBurst(context_.get());
    if (copyMode_ == cmSync) cdStopSync(context_.get());
    aborting_ = false;
    UnlockMedium();
}

// ---- chain ----

void TMMCDReader::SetPWaveFormat(const WAVEFORMATEX* format) {
    const bool own = format == PWaveFormat() || (format && SameFormat(*format, format_));
    if (!own && !(IsDestroying() && !format)) throw EMMCDDAError("It's not allowed to change the WaveFormat");
    TMMDSPComponent::SetPWaveFormat(format);
}

void TMMCDReader::Opened() {
    TMMDSPComponent::Opened();
    OpenReader();
}

void TMMCDReader::Closed() {
    StopReader();
    CloseReader();
    TMMDSPComponent::Closed();
}

void TMMCDReader::Started() {
    TMMDSPComponent::Started();
    StartReader();
}

void TMMCDReader::Stopped() {
    StopReader();
    TMMDSPComponent::Stopped();
}

void TMMCDReader::Rewound() {
    TMMDSPComponent::Rewound();
    ResetBuffer();
}

int64_t TMMCDReader::Needed(int count) const {
    switch (copyMode_) {
    case cmNormal: return int64_t(count) * std::max(context_->sectorSize, CDRawSectorSize);
    case cmBurst: return int64_t(sectorsPerRead_) * CDRawSectorSize;
    default: return int64_t(count) * CDRawSectorSize;
    }
}

int64_t TMMCDReader::ReadBlock(uint8_t* buffer, int64_t capacity, int count) {
    int64_t bytes = 0;
    int status = 0;
    switch (copyMode_) {
    case cmNormal:
        status = cdReadSectors(context_.get(), buffer, capacity, currentSector_, count);
        if (status == 0) bytes = int64_t(count) * CDRawSectorSize;
        break;
    case cmBurst: {
        const int sectors = cdReadBurst(context_.get(), buffer, capacity);
        if (sectors < 0) status = sectors;
        else bytes = int64_t(sectors) * CDRawSectorSize;
        break;
    }
    case cmSync: {
        // The synchronised data may arrive in pieces; the sectors asked for are taken whole.
        const int64_t wanted = int64_t(count) * CDRawSectorSize;
        while (bytes < wanted) {
            const int64_t got = cdReadSync(context_.get(), buffer + bytes, wanted - bytes);
            if (got < 0) status = int(got);
            if (got <= 0) break;
            bytes += got;
        }
        break;
    }
    }
    if (status != 0) {
        if (!readerStarted_ || aborting_) return -1;
        RaiseStatus(status);
    }
    if (bytes > 0) PCMScaleVolume(&format_, buffer, uint32_t(bytes), copyVolume_, copyVolume_);
    return bytes;
}

int64_t TMMCDReader::Serve(uint8_t* dest, int64_t wanted) {
    int64_t delivered = std::min(wanted, blockFilled_ - blockRead_);
    if (delivered > 0) {
        std::memcpy(dest, block_.data() + blockRead_, size_t(delivered));
        blockRead_ += delivered;
    } else {
        delivered = 0;
    }
    while (delivered < wanted && readerStarted_ && !aborting_ && currentSector_ < endSector_) {
        const int count = int(std::min<int64_t>(sectorsPerRead_, int64_t(endSector_) - currentSector_));
        const int64_t remaining = wanted - delivered;
        int64_t got = 0;
        if (remaining < int64_t(count) * CDRawSectorSize || remaining < Needed(count)) {
            got = ReadBlock(block_.data(), int64_t(block_.size()), count);
            if (got < 0) break;
            blockFilled_ = got;
            const int64_t take = std::min(remaining, got);
            std::memcpy(dest + delivered, block_.data(), size_t(take));
            blockRead_ = take;
            delivered += take;
        } else {
            got = ReadBlock(dest + delivered, remaining, count);
            if (got < 0) break;
            delivered += got;
        }
        currentSector_ += count;
        // The reader thread or the synchronised passes have reached their end.
        if (got == 0) currentSector_ = endSector_;
    }
    return delivered;
}

void TMMCDReader::BufferLoad(WaveHdrEx* header, bool& moreBuffers) {
    uint8_t* data = WaveHdrData(header);
    const DWORD capacity = header->wh.dwBufferLength;
    if (!enabled_) {
        std::memset(data, 0, capacity);
        header->wh.dwBytesRecorded = capacity;
        moreBuffers = true;
        return;
    }
    if (OnDataRead) OnDataRead(this);
    {
        wc::CriticalSectionLock hold(serveLock_);
        const int64_t delivered = Serve(data, int64_t(capacity));
        header->wh.dwBytesRecorded = DWORD(delivered);
        // An aborted read has nothing more to give.
        if (blockRead_ < blockFilled_ || (currentSector_ < endSector_ && !aborting_)) moreBuffers = true;
    }
    if (OnDataReadEnd) OnDataReadEnd(this);
}

bool TMMCDReader::SetProperty(const std::string& name, const wc::LayoutValue& value) {
    if (name == "Enabled") {
        SetEnabled(value.AsBoolean());
        return true;
    }
    if (name == "BlockCount") {
        SetBlockCount(value.AsInteger());
        return true;
    }
    if (name == "CopyMode") {
        SetCopyMode(TMMCDCopyMode(wc::LayoutEnum(value, {"cmNormal", "cmBurst", "cmSync"})));
        return true;
    }
    if (name == "DeviceID") {
        SetDeviceID(value.AsInteger());
        return true;
    }
    if (name == "DeviceType") {
        SetDeviceType(value.AsInteger());
        return true;
    }
    if (name == "CopyVolume") {
        SetCopyVolume(value.AsInteger());
        return true;
    }
    if (name == "IgnoreSpeed") {
        SetIgnoreSpeed(value.AsBoolean());
        return true;
    }
    // Read from the selected drive; stored layouts carry them but cannot set them.
    if (name == "DeviceName" || name == "DriveLetter") return true;
    return TMMDSPComponent::SetProperty(name, value);
}
