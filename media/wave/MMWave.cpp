#include "media/wave/MMWave.h"

#include <windows.h>
#include <shlwapi.h>
#include <winnetwk.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "framework/Files.h"
#include "framework/Strings.h"
#include "framework/Threads.h"
#include "media/MMErrors.h"

namespace {

// Free disk space a writing sink keeps beyond its buffer and the block it
// writes, so the file can still be finished (headers, lists).
constexpr int64_t WriteReserveBytes = 10240;

int64_t ClampI64(uint64_t value) { return int64_t(std::min<uint64_t>(value, uint64_t(INT64_MAX))); }

int32_t ClampI32(int64_t value) {
    return int32_t(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// The full path; a path on a mapped network drive in its network (UNC) form.
std::string ExpandFileName(const std::string& name) {
    if (name.empty()) return name;
    const std::wstring wide = wc::PathToWide(name);
    std::wstring full(MAX_PATH, L'\0');
    DWORD length = GetFullPathNameW(wide.c_str(), DWORD(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.assign(length + 1, L'\0');
        length = GetFullPathNameW(wide.c_str(), DWORD(full.size()), full.data(), nullptr);
    }
    if (length == 0 || length >= full.size()) return name;
    full.resize(length);

    std::vector<char> info(2048);
    DWORD size = DWORD(info.size());
    DWORD result = WNetGetUniversalNameW(full.c_str(), UNIVERSAL_NAME_INFO_LEVEL, info.data(), &size);
    if (result == ERROR_MORE_DATA) {
        info.resize(size);
        result = WNetGetUniversalNameW(full.c_str(), UNIVERSAL_NAME_INFO_LEVEL, info.data(), &size);
    }
    if (result == NO_ERROR) {
        const auto* universal = reinterpret_cast<const UNIVERSAL_NAME_INFOW*>(info.data());
        if (universal->lpUniversalName && *universal->lpUniversalName) return wc::PathFromWide(universal->lpUniversalName);
    }
    return wc::PathFromWide(full);
}

// The size of a file on disk, -1 when there is none.
int64_t DiskFileSize(const std::string& name) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(wc::PathToWide(name).c_str(), GetFileExInfoStandard, &data)) return -1;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
    return (int64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Free bytes on the disk holding the file; the largest value when unknown.
int64_t FreeDiskBytes(const std::string& fileName) {
    std::string folder = fileName;
    const size_t slash = folder.find_last_of("\\/");
    folder = slash == std::string::npos ? std::string(".") : folder.substr(0, slash + 1);
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(wc::PathToWide(folder).c_str(), &available, nullptr, nullptr)) return std::numeric_limits<int64_t>::max();
    return int64_t(std::min<uint64_t>(available.QuadPart, uint64_t(std::numeric_limits<int64_t>::max())));
}

}  // namespace

// ---- TMMWave ----

TMMWave::TMMWave() = default;

TMMWave::~TMMWave() {
    // Nobody hears of changes of a wave being destroyed.
    updating_ = true;
    FreeAll();
}

void TMMWave::SetTimeFormat(TMMTimeFormats value) {
    if (value == timeFormat_) return;
    timeFormat_ = value;
    BuildPlayList();
}

const WAVEFORMATEX* TMMWave::PWaveFormat() const { return handle_ ? &handle_->format : nullptr; }

uint16_t TMMWave::BitLength() const {
    const WAVEFORMATEX* format = PWaveFormat();
    return format ? format->wBitsPerSample : 0;
}

TMMMode TMMWave::Mode() const {
    const WAVEFORMATEX* format = PWaveFormat();
    if (!format) return mMono;
    if (format->nChannels == 2) return mStereo;
    return format->nChannels > 2 ? mMultiChannel : mMono;
}

uint16_t TMMWave::FormatTag() const {
    const WAVEFORMATEX* format = PWaveFormat();
    return format ? format->wFormatTag : 0;
}

std::string TMMWave::FormatString() const { return WaveFormatTagName(PWaveFormat()); }

int32_t TMMWave::SampleRate() const {
    const WAVEFORMATEX* format = PWaveFormat();
    return format ? ClampI32(format->nSamplesPerSec) : 11025;
}

int64_t TMMWave::FileSize() const { return handle_ ? ClampI64(handle_->fileSize) : 0; }

int64_t TMMWave::DataSize() const { return handle_ ? SamplesToTime(ClampI64(handle_->totalSamples)) : 0; }

void TMMWave::SetIOBufferSize(int32_t value) {
    if (value == ioBufferSize_) return;
    const int32_t size = std::max(value, MinWaveIOBufferSize);
    // A failure keeps the size in use.
    if (handle_ && handle_->file && WaveIOSetBuffer(handle_.get(), size) != 0)
        RaiseMMError<EMMWaveError>(MMMsg::UnableToSetupIOBuffer);
    ioBufferSize_ = size;
}

int64_t TMMWave::SamplesToBytes(int64_t samples) const {
    const WAVEFORMATEX* format = PWaveFormat();
    return format ? WaveSamplesToBytes64(format, std::max<int64_t>(samples, 0)) : 0;
}

int64_t TMMWave::BytesToSamples(int64_t bytes) const {
    const WAVEFORMATEX* format = PWaveFormat();
    return format ? std::max<int64_t>(WaveBytesToSamples64(format, std::max<int64_t>(bytes, 0)), 0) : 0;
}

int64_t TMMWave::SamplesToTime(int64_t samples) const {
    const WAVEFORMATEX* format = PWaveFormat();
    if (!format) return 0;
    switch (timeFormat_) {
        case tfMillisecond: return WaveSamplesToMs64(format, samples);
        case tfByte: return SamplesToBytes(samples);
        case tfSample: break;
    }
    return samples;
}

int64_t TMMWave::TimeToSamples(int64_t value) const {
    const WAVEFORMATEX* format = PWaveFormat();
    if (!format) return 0;
    switch (timeFormat_) {
        case tfMillisecond: return std::max<int64_t>(MulDivRound(std::max<int64_t>(value, 0), format->nSamplesPerSec, 1000), 0);
        case tfByte: return BytesToSamples(value);
        case tfSample: break;
    }
    return value;
}

void TMMWave::SetCutList(TMMCutList* list) {
    cutList_ = list;
    BuildPlayList();
    // The segment being read may be gone: go on from the same place.
    if (opened_) SetPosition(GetPosition());
}

void TMMWave::BuildPlayList() {
    playList_.Clear();
    if (!PWaveFormat()) return;
    auto add = [this](int64_t start, int64_t length) {
        playList_.Add({start, SamplesToBytes(start), length, SamplesToBytes(length)});
    };
    const int64_t end = std::max(rangeEnd_, rangeStart_);
    if (!cutList_ || cutList_->Empty()) {
        add(rangeStart_, end - rangeStart_);
        return;
    }
    std::vector<TMMCutSegment> cuts;
    for (const TMMCutSegment& cut : cutList_->Segments())
        if (cut.Samples > 0) cuts.push_back(cut);
    std::sort(cuts.begin(), cuts.end(),
              [](const TMMCutSegment& a, const TMMCutSegment& b) { return a.StartSample < b.StartSample; });
    int64_t cursor = rangeStart_;
    for (const TMMCutSegment& cut : cuts) {
        if (cursor >= end) break;
        const int64_t cutEnd = cut.StartSample + cut.Samples;
        if (cutEnd <= cursor) continue;
        if (cut.StartSample > cursor) add(cursor, std::min<int64_t>(cut.StartSample, end) - cursor);
        cursor = std::max(cursor, cutEnd);
    }
    if (cursor < end) add(cursor, end - cursor);
    if (playList_.Empty()) add(rangeStart_, 0);
}

int64_t TMMWave::PlayListSamples() const {
    if (!handle_) return 0;
    if (playList_.Empty()) return std::max<int64_t>(rangeEnd_ - rangeStart_, 0);
    int64_t sum = 0;
    for (const TMMCutSegment& segment : playList_.Segments()) sum += segment.Samples;
    return sum;
}

int64_t TMMWave::PlayListBytes() const { return SamplesToBytes(PlayListSamples()); }

int64_t TMMWave::PlayListTime() const { return SamplesToTime(PlayListSamples()); }

int64_t TMMWave::GetPosition() const { return handle_ ? SamplesToTime(position_) : -1; }

void TMMWave::SeekFile(int64_t fileSample) {
    // The file layer counts from the start of the readable range.
    const int64_t relative = std::max<int64_t>(fileSample - rangeStart_, 0);
    if (WaveIOSeek(handle_.get(), relative) == 0) return;
    if (WaveIOSeek(handle_.get(), relative) == 0) return;
    RaiseMMError<EMMWaveError>(MMMsg::ErrorSeekingWave);
}

void TMMWave::SetPosition(int64_t value) {
    if (!handle_) return;
    const int64_t requested = std::max<int64_t>(TimeToSamples(value), 0);
    if (!opened_) {
        position_ = requested;
        return;
    }
    const int64_t target = std::min(requested, PlayListSamples());
    const int64_t total = PlayListBytes();
    PositionHook(true);

    const auto& segments = playList_.Segments();
    if (segments.empty()) {
        // Nothing to deliver: at the end.
        totalBytes_ = bytesLeft_ = segmentBytesLeft_ = position_ = 0;
        segmentIndex_ = 0;
        endDelivered_ = false;
        return;
    }
    int64_t sum = 0;
    size_t index = 0;
    for (; index < segments.size(); ++index) {
        sum += segments[index].Samples;
        if (sum >= target) break;
    }
    if (index == segments.size()) RaiseMMError<EMMWaveError>(MMMsg::ErrorSeekingWave);
    const TMMCutSegment& segment = segments[index];
    // Nothing changes before the seek has succeeded.
    SeekFile(ListToFileSample(segment.StartSample + segment.Samples + target - sum));

    totalBytes_ = total;
    bytesLeft_ = std::max<int64_t>(total - SamplesToBytes(target), 0);
    segmentBytesLeft_ = SamplesToBytes(sum - target);
    segmentIndex_ = index;
    position_ = target;
    endDelivered_ = false;
}

int32_t TMMWave::ReadRawBytes(void* buffer, int32_t count) { return WaveIORead(handle_.get(), buffer, count); }

int32_t TMMWave::ReadData(void* buffer, int32_t count) {
    if (!handle_ || !opened_ || endDelivered_ || !buffer) return -1;
    if (count <= 0) return 0;
    auto* out = static_cast<uint8_t*>(buffer);
    int32_t wanted = int32_t(std::min<int64_t>(count, bytesLeft_));
    int32_t gathered = 0;
    const auto& segments = playList_.Segments();
    while (wanted > 0) {
        if (segmentBytesLeft_ <= 0) {
            if (segmentIndex_ + 1 >= segments.size()) {
                bytesLeft_ = 0;
                break;
            }
            ++segmentIndex_;
            segmentBytesLeft_ = segments[segmentIndex_].Bytes;
            try {
                SeekFile(ListToFileSample(segments[segmentIndex_].StartSample));
            } catch (const EMMWaveError&) {
                // Reading never raises: a failed seek ends the data.
                bytesLeft_ = 0;
                break;
            }
            continue;
        }
        const int32_t n = ReadRawBytes(out + gathered, int32_t(std::min<int64_t>(wanted, segmentBytesLeft_)));
        if (n < 1) break;
        gathered += n;
        wanted -= n;
        segmentBytesLeft_ -= n;
    }
    if (gathered == 0) {
        // The end: one block of zero bytes (as much of it as the buffer takes).
        const int32_t mark = std::min<int32_t>(count, 4);
        std::memset(out, 0, size_t(mark));
        bytesLeft_ = segmentBytesLeft_ = 0;
        position_ = PlayListSamples();
        endDelivered_ = true;
        return mark;
    }
    bytesLeft_ = std::max<int64_t>(bytesLeft_ - gathered, 0);
    position_ = ListToFileSample(BytesToSamples(totalBytes_ - bytesLeft_));
    return gathered;
}

int32_t TMMWave::WriteData(const void* buffer, int32_t count) {
    if (!handle_) return -1;
    const int32_t written = WaveIOWrite(handle_.get(), buffer, count);
    rangeEnd_ = ClampI64(handle_->rangeEnd);
    BuildPlayList();
    return written;
}

void TMMWave::OpenFile() {
    if (!handle_) return;
    if (WaveIOBeginAccess(handle_.get()) != 0) RaiseMMError<EMMWaveError>(MMMsg::UnableToOpenWave);
    if (WaveIOSetBuffer(handle_.get(), ioBufferSize_) != 0) {
        WaveIOEndAccess(handle_.get());
        RaiseMMError<EMMWaveError>(MMMsg::UnableToSetupIOBuffer);
    }
    const int64_t position = GetPosition();
    BuildPlayList();
    PositionHook(false);
    opened_ = true;
    try {
        SetPosition(position);
    } catch (...) {
        CloseFile();
        throw;
    }
}

void TMMWave::OpenFileForAppend() {
    OpenFile();
    if (!handle_) return;
    if (WaveIOSeekToEnd(handle_.get()) != 0) {
        CloseFile();
        RaiseMMError<EMMWaveError>(MMMsg::ErrorSeekingWave);
    }
    bytesLeft_ = 0;
    segmentBytesLeft_ = 0;
}

void TMMWave::CloseFile() {
    if (handle_) WaveIOEndAccess(handle_.get());
    opened_ = false;
    position_ = 0;
    bytesLeft_ = 0;
    segmentBytesLeft_ = 0;
    endDelivered_ = false;
}

void TMMWave::CreateFile(const std::string& fileName, const WAVEFORMATEX* format) {
    if (fileName.empty() || !format) return;
    const std::string expanded = ExpandFileName(fileName);
    // Everything is made on a new handle first: a failure leaves the wave as
    // it was (unless it held the very file being replaced) and no file.
    WaveIOHandlePtr created;
    bool ok = WaveIOParseName(expanded.c_str());
    if (ok) {
        if (expanded == fileName_) FreeAll();
        if (WaveIOFileExists(expanded.c_str())) WaveIODeleteFile(expanded.c_str());
        PWaveIOHandle raw = nullptr;
        ok = WaveIOCreateHandle(raw, format) == 0 && raw;
        created.reset(raw);
    }
    if (ok) ok = WaveIOCreateFile(created.get(), expanded.c_str()) == 0;
    if (!ok) RaiseMMError<EMMWaveError>(MMMsg::UnableToCreateWave);
    if (WaveIOSetBuffer(created.get(), ioBufferSize_) != 0) {
        created.reset();
        WaveIODeleteFile(expanded.c_str());
        RaiseMMError<EMMWaveError>(MMMsg::UnableToSetupIOBuffer);
    }
    // Observers hear of the new file once it carries its name.
    const bool wasUpdating = updating_;
    updating_ = true;
    TakeHandle(std::move(created));
    fileName_ = expanded;
    updating_ = wasUpdating;
    Changed();
}

void TMMWave::TakeHandle(WaveIOHandlePtr handle) {
    FreeAll();
    handle_ = std::move(handle);
    if (handle_) {
        rangeStart_ = ClampI64(handle_->rangeStart);
        rangeEnd_ = ClampI64(handle_->rangeEnd);
        position_ = ClampI64(handle_->position);
        bytesLeft_ = ClampI64(handle_->bytesLeft);
    }
    BuildPlayList();
}

void TMMWave::AttachHandle(WaveIOHandlePtr handle) {
    if (handle && handle.get() == handle_.get()) {
        (void)handle.release();  // already ours
        return;
    }
    TakeHandle(std::move(handle));
    Changed();
}

void TMMWave::CreateFromFormat(const WAVEFORMATEX* format) {
    if (!format) return;
    PWaveIOHandle raw = nullptr;
    if (WaveIOCreateHandle(raw, format) != 0 || !raw) RaiseMMError<EMMWaveError>(MMMsg::UnableToCreateWave);
    AttachHandle(WaveIOHandlePtr(raw));
}

void TMMWave::FreeAll() {
    CloseFile();
    fileName_.clear();
    handle_.reset();
    playList_.Clear();
    rangeStart_ = rangeEnd_ = position_ = bytesLeft_ = totalBytes_ = 0;
    segmentIndex_ = 0;
}

void TMMWave::ClearWave() {
    if (fileName_.empty() && !handle_) return;
    FreeAll();
    Changed();
}

namespace {

// Parses a named file for SetFileName and Assign. Raises when the name does
// not open as a wave and the file exists or must exist; null for a missing
// file that need not exist.
WaveIOHandlePtr OpenNamedWave(const std::string& expanded, bool mustExist) {
    const bool exists = WaveIOFileExists(expanded.c_str());
    PWaveIOHandle raw = nullptr;
    if (exists && WaveIOOpen(raw, expanded.c_str(), kWaveFormType, WaveIOFlagFile) == 0 && raw)
        return WaveIOHandlePtr(raw);
    if (raw) WaveIOFree(raw);
    if (exists || mustExist) {
        if (!exists || IsWaveFile(expanded.c_str())) RaiseMMError<EMMWaveError>(MMMsg::ErrorReadingWave);
        RaiseMMError<EMMWaveError>(MMMsg::InvalidWaveFile);
    }
    return nullptr;
}

}  // namespace

void TMMWave::SetFileName(const std::string& value) {
    const std::string expanded = ExpandFileName(value);
    if (expanded == fileName_ && DiskFileSize(expanded) == FileSize()) return;
    if (expanded.empty()) {
        ClearWave();
        return;
    }
    // Raises before anything changes.
    TakeHandle(OpenNamedWave(expanded, fileMustExist_));
    fileName_ = expanded;
    Changed();
}

void TMMWave::Assign(const TMMObject* source) {
    if (source == this) return;
    if (!source) {
        ClearWave();
        cutList_ = nullptr;
        BuildPlayList();
        return;
    }
    const auto* wave = dynamic_cast<const TMMWave*>(source);
    if (!wave) throw wc::Exception("Cannot assign this object to a TMMWave");
    // What can fail comes first, so a failure leaves this wave as it was.
    WaveIOHandlePtr taken;
    if (!wave->fileName_.empty()) {
        taken = OpenNamedWave(wave->fileName_, wave->fileMustExist_);
    } else if (wave->PWaveFormat()) {
        PWaveIOHandle raw = nullptr;
        if (WaveIOCreateHandle(raw, wave->PWaveFormat()) != 0 || !raw)
            RaiseMMError<EMMWaveError>(MMMsg::UnableToCreateWave);
        taken.reset(raw);
    }
    const bool wasUpdating = updating_;
    updating_ = true;
    TakeHandle(std::move(taken));
    fileName_ = wave->fileName_;
    fileMustExist_ = wave->fileMustExist_;
    timeFormat_ = wave->timeFormat_;
    rangeStart_ = wave->rangeStart_;
    rangeEnd_ = wave->rangeEnd_;
    position_ = wave->position_;
    ioBufferSize_ = std::max(wave->ioBufferSize_, MinWaveIOBufferSize);  // no file is open here
    cutList_ = wave->cutList_;
    BuildPlayList();
    Changed();
    updating_ = wasUpdating;
    if (!updating_ && changePending_) Changed();
}

void TMMWave::Changed() {
    if (updating_) {
        changePending_ = true;
        return;
    }
    changePending_ = false;
    TMMObject::Changed();
    observers_.NotifyObservers(this);
}

// ---- TMMCustomWaveFile ----

TMMCustomWaveFile::TMMCustomWaveFile(wc::TComponent* owner)
    : TMMCustomFile(owner), wave_(std::make_unique<TMMWave>()), observer_(std::make_unique<TMMObserver>()) {
    observer_->OnNotify = [this](TMMObserver*, void*) { WaveChanged(); };
    wave_->AddObserver(observer_.get());
}

TMMCustomWaveFile::~TMMCustomWaveFile() {
    try {
        Closed();
    } catch (...) {
        // Destruction goes on whatever a handler did.
    }
    DetachFromChain();
    wave_->RemoveObserver(observer_.get());
}

bool TMMCustomWaveFile::CanRead(const std::string& fileName) {
    // Byte-wise: the UTF-8 name's bytes are no text of the ANSI code page.
    const std::string name = wc::ExtractFileName(fileName);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos) {
        const std::string upperExtension = wc::UpperCase(name.substr(dot));
        const std::string upperMask = wc::UpperCase(GetFileMask());
        if (upperMask.find(upperExtension) == std::string::npos) return false;
    }
    return IsWaveFile(fileName.c_str());
}

bool TMMCustomWaveFile::GetFileInfo(const std::string& fileName, TMMFileInfo& info) {
    PWaveIOHandle raw = nullptr;
    if (WaveIOOpen(raw, fileName.c_str(), kWaveFormType, WaveIOFlagFile) != 0 || !raw) return false;
    const WaveIOHandlePtr handle(raw);
    info = TMMFileInfo{};
    info.Kind = FileKindWave;
    info.LengthMs = ClampI32(WaveSamplesToMs64(&handle->format, ClampI64(handle->totalSamples)));
    info.Tag.Title = wc::ExtractFileName(fileName);
    return true;
}

std::string TMMCustomWaveFile::GetFilterText() const { return MMLoadString(MMMsg::WaveFilter); }

int32_t TMMCustomWaveFile::GetBlockSize() const {
    const WAVEFORMATEX* format = PWaveFormat();
    return format ? format->nBlockAlign : 0;
}

int32_t TMMCustomWaveFile::Time() const {
    return ClampI32(WaveSamplesToMs64(wave_->PWaveFormat(), wave_->TimeToSamples(wave_->DataSize())));
}

int32_t TMMCustomWaveFile::PositionMs() const {
    const int64_t position = wave_->GetPosition();
    if (position < 0) return -1;
    return ClampI32(WaveSamplesToMs64(wave_->PWaveFormat(), wave_->TimeToSamples(position)));
}

void TMMCustomWaveFile::SetPositionMs(int32_t value) {
    const WAVEFORMATEX* format = wave_->PWaveFormat();
    const int64_t samples = format ? MulDivRound(std::max(value, 0), format->nSamplesPerSec, 1000) : 0;
    wave_->SetPosition(wave_->SamplesToTime(samples));
}

bool TMMCustomWaveFile::SetProperty(const std::string& name, const wc::LayoutValue& value) {
    if (name == "OverwriteExisting") {
        SetOverwriteExisting(value.AsBoolean());
        return true;
    }
    if (name == "Wave.FileName") {
        wave_->SetFileName(value.AsString());
        return true;
    }
    if (name == "Wave.FileMustExist") {
        wave_->SetFileMustExist(value.AsBoolean());
        return true;
    }
    if (name == "Wave.TimeFormat") {
        wave_->SetTimeFormat(TMMTimeFormats(wc::LayoutEnum(value, {"tfMillisecond", "tfByte", "tfSample"})));
        return true;
    }
    if (name == "Wave.IOBufferSize") {
        wave_->SetIOBufferSize(value.AsInteger());
        return true;
    }
    return TMMCustomFile::SetProperty(name, value);
}

void TMMCustomWaveFile::WaveChanged() {
    if (OnChange) OnChange(this);
    try {
        if (wave_->FileMustExist() || wave_->PWaveFormat()) SetPWaveFormat(wave_->PWaveFormat());
    } catch (...) {
        if (OnChanged) OnChanged(this);
        throw;
    }
    if (OnChanged) OnChanged(this);
}

void TMMCustomWaveFile::SetPWaveFormat(const WAVEFORMATEX* format) {
    TMMCustomFile::SetPWaveFormat(format);
    const WAVEFORMATEX* held = PWaveFormat();
    silence_ = held && held->wFormatTag == WAVE_FORMAT_PCM && held->wBitsPerSample == 8 ? 128 : 0;
}

void TMMCustomWaveFile::Fire(const wc::TNotifyEvent& event) {
    if (!event) return;
    if (TMMDSPThread::IsCurrentThreadDSP())
        wc::Synchronize([this, &event] { event(this); });
    else
        event(this);
}

void TMMCustomWaveFile::Opened() {
    TMMCustomFile::Opened();
    if (fileOpen_) return;
    if (Input()) {
        SetPWaveFormat(Input()->PWaveFormat());
        // A copy: the new file hands the wave's format back to this
        // component, which replaces the one it holds.
        const WaveFormatBuffer format = WaveCopyFormat(PWaveFormat());
        if (format && !wave_->FileName().empty()) {
            if (overwriteExisting_ || wave_->IsEmpty())
                wave_->CreateFile(wave_->FileName(), format.get());
            else
                wave_->OpenFileForAppend();
            fileOpen_ = true;
        }
    } else if (!wave_->IsEmpty()) {
        wave_->OpenFile();
        openPosition_ = wave_->GetPosition();
        fileOpen_ = true;
    }
    if (fileOpen_) Fire(OnOpen);
}

void TMMCustomWaveFile::Started() {
    TMMCustomFile::Started();
    if (!fileOpen_ || fileStarted_) return;
    fileStarted_ = true;
    if (!Input()) wave_->SetPosition(openPosition_);
    wave_->PositionHook(false);
}

void TMMCustomWaveFile::Stopped() {
    if (fileOpen_ && fileStarted_) fileStarted_ = false;
    TMMCustomFile::Stopped();
}

void TMMCustomWaveFile::Rewound() {
    TMMCustomFile::Rewound();
    if (fileOpen_ && fileStarted_) wave_->RewindHook();
}

void TMMCustomWaveFile::Closed() {
    if (fileOpen_) {
        Stopped();
        const WaveIOHandle* handle = wave_->Handle();
        if (Input() && !wave_->FileName().empty() && PWaveFormat() && handle && handle->dataBytes == 0) {
            // A file with no samples at all is refused by some players.
            const uint8_t zeros[4] = {};
            wave_->WriteData(zeros, sizeof zeros);
        }
        wave_->CloseFile();
        fileOpen_ = false;
        Fire(OnClose);
    }
    TMMCustomFile::Closed();
}

void TMMCustomWaveFile::CloseForDiskSpace() { Closed(); }

namespace {

// Appends the header's bytes; false when the disk is (nearly) full or the
// write fails.
bool AppendBlock(TMMWave& wave, const uint8_t* data, int32_t length) {
    const int64_t needed = int64_t(wave.IOBufferSize()) + length + WriteReserveBytes;
    if (FreeDiskBytes(wave.FileName()) < needed) return false;
    return wave.WriteData(data, length) > 0;
}

}  // namespace

void TMMCustomWaveFile::BufferReady(WaveHdrEx* header) {
    if (Input() && header && fileOpen_ && fileStarted_ && Enabled() && !wave_->FileName().empty()) {
        const int32_t length = ClampI32(std::min(header->wh.dwBytesRecorded, header->wh.dwBufferLength));
        if (length > 0 && !AppendBlock(*wave_, WaveHdrData(header), length)) CloseForDiskSpace();
    }
    TMMCustomFile::BufferReady(header);
}

void TMMCustomWaveFile::BufferLoad(WaveHdrEx* header, bool& moreBuffers) {
    if (Input()) {
        // Recording: the input's data pass on and are written down.
        TMMCustomFile::BufferLoad(header, moreBuffers);
        if (fileOpen_ && fileStarted_ && Enabled() && !wave_->FileName().empty()) {
            const int32_t length = ClampI32(std::min(header->wh.dwBytesRecorded, header->wh.dwBufferLength));
            if (length > 0 && !AppendBlock(*wave_, WaveHdrData(header), length)) CloseForDiskSpace();
        }
        return;
    }
    uint8_t* data = WaveHdrData(header);
    const DWORD capacity = header->wh.dwBufferLength;
    if (wave_->IsEmpty()) {
        header->wh.dwBytesRecorded = 0;
        return;
    }
    if (!fileStarted_ || !Enabled()) {
        std::memset(data, silence_, capacity);
        header->wh.dwBytesRecorded = capacity;
        moreBuffers = true;
        return;
    }
    const int32_t read = wave_->ReadData(data, ClampI32(capacity));
    header->wh.dwBytesRecorded = DWORD(std::max(read, 0));
    if (header->wh.dwBytesRecorded == 0) return;
    if (wave_->BytesLeft() > 0) {
        moreBuffers = true;
        return;
    }
    if (header->LoopFlag == 0) return;
    if (header->LoopTotal > 0) --header->LoopsLeft;
    if (header->LoopTotal > 0 && header->LoopsLeft < 0) return;
    wave_->SetPosition(0);
    wave_->RewindHook();
    if (OnLooping) OnLooping(this);
    moreBuffers = true;
    header->LoopMark = LongBoolTrue;
}
