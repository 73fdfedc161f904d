#include "media/mpeg/MMMPEG.h"

#include <shlwapi.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "framework/Exceptions.h"
#include "framework/Files.h"
#include "framework/Handles.h"
#include "framework/Layout.h"
#include "framework/Strings.h"
#include "media/MMErrors.h"

// ---- the library binding ----

namespace {

// The binding of the process: the library and its table. Freed at exit.
struct MpegBinding {
    wc::ModuleHandle library;
    MpegEntryPoints table;
    bool loaded = false;
};

MpegBinding& Binding() {
    static MpegBinding binding;
    return binding;
}

template <class F>
void Bind(HMODULE library, F& slot, const char* name) {
    slot = reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

void ErrorBox(const char* text) { ::MessageBoxA(nullptr, text, nullptr, MB_OK | MB_ICONERROR); }

// Rounds halves to even (the processor's default rounding).
int64_t RoundEven(double value) { return int64_t(std::nearbyint(value)); }

}  // namespace

bool BindMpegLibrary(const char* libraryName) {
    FreeMpegLibrary();
    MpegBinding& b = Binding();
    const UINT previous = ::SetErrorMode(SEM_NOOPENFILEERRORBOX);
    HMODULE library = ::LoadLibraryA(libraryName);
    ::SetErrorMode(previous);
    if (reinterpret_cast<uintptr_t>(library) < 32) {
        ErrorBox("Unable to load MMMPEG32.DLL");
        return false;
    }
    b.library.reset(library);
    b.loaded = true;
    MpegEntryPoints& t = b.table;
#define MPEG_BIND(name) Bind(library, t.name, #name)
    MPEG_BIND(mpeg_Version);
    MPEG_BIND(mpeg_Init);
    MPEG_BIND(mpeg_Done);
    MPEG_BIND(mpeg_SetDecryptCallback);
    MPEG_BIND(mpeg_SetDecryptMode);
    MPEG_BIND(mpeg_Clear);
    MPEG_BIND(mpeg_SetTrailingHeader);
    MPEG_BIND(mpeg_SetExactPosition);
    MPEG_BIND(mpeg_SetFileName);
    MPEG_BIND(mpeg_SetFileNameW);
    MPEG_BIND(mpeg_GetFileName);
    MPEG_BIND(mpeg_GetEmpty);
    MPEG_BIND(mpeg_GetFileInfo);
    MPEG_BIND(mpeg_SetChannelMode);
    MPEG_BIND(mpeg_GetChannelMode);
    MPEG_BIND(mpeg_SetPosition);
    MPEG_BIND(mpeg_GetPosition);
    MPEG_BIND(mpeg_OpenFile);
    MPEG_BIND(mpeg_CloseFile);
    MPEG_BIND(mpeg_ResetFile);
    MPEG_BIND(mpeg_ReadDataBytes);
    MPEG_BIND(mpeg_AbortReadData);
    MPEG_BIND(mpeg_GetDone);
    MPEG_BIND(mpeg_ScanFile);
    MPEG_BIND(mpeg_ScanFileEx);
    MPEG_BIND(mpeg_EncryptFile);
    MPEG_BIND(mpeg_ReadID3Tag);
    MPEG_BIND(mpeg_GetErrorText);
    MPEG_BIND(mpeg_SetFileOffset);
    MPEG_BIND(mpeg_ReadDataBytesEx);
#undef MPEG_BIND
    if (!t.mpeg_Version || t.mpeg_Version() < MpegRequiredVersion) {
        FreeMpegLibrary();
        ErrorBox("Invalid Mpeg Decoder DLL version");
        return false;
    }
    return true;
}

void FreeMpegLibrary() {
    MpegBinding& b = Binding();
    b.loaded = false;
    b.table = MpegEntryPoints{};
    b.library.reset();
}

bool MpegLibraryAvailable() { return Binding().loaded || BindMpegLibrary(MpegLibraryName); }

const MpegEntryPoints& MpegLibrary() { return Binding().table; }

std::string MpegErrorText(int32_t status) {
    const MpegEntryPoints& t = MpegLibrary();
    char text[256] = {};
    if (!t.mpeg_GetErrorText || t.mpeg_GetErrorText(status, text, sizeof text) != 0) return {};
    text[sizeof text - 1] = 0;
    return text;
}

namespace {

const MpegEntryPoints& Lib() { return MpegLibrary(); }

// The entry points that every instance call needs; a library that lacks
// one of them cannot run a decoder.
bool HasCoreEntryPoints(const MpegEntryPoints& t) {
    return t.mpeg_Init && t.mpeg_Done && t.mpeg_SetFileName && t.mpeg_GetFileName && t.mpeg_GetEmpty &&
           t.mpeg_GetFileInfo && t.mpeg_SetChannelMode && t.mpeg_GetChannelMode && t.mpeg_SetPosition &&
           t.mpeg_GetPosition && t.mpeg_OpenFile && t.mpeg_CloseFile && t.mpeg_ResetFile && t.mpeg_ReadDataBytes &&
           t.mpeg_AbortReadData && t.mpeg_GetDone && t.mpeg_Clear && t.mpeg_SetTrailingHeader &&
           t.mpeg_SetExactPosition && t.mpeg_ReadID3Tag;
}

[[noreturn]] void RaiseStatus(int32_t status, const std::string& suffix = {}) {
    throw EMMMpegError(MpegErrorText(status) + suffix);
}

// A decoder instance of its own for the class-level questions.
class TempInstance {
public:
    TempInstance(TMpegDecryptProc callback, uint32_t user, uint8_t mode) {
        int32_t status = 0;
        handle_ = Lib().mpeg_Init(&status, nullptr, nullptr);
        if (status != 0 && handle_) Lib().mpeg_Done(&handle_);
        if (status != 0) handle_ = nullptr;
        if (handle_ && callback) {
            if (Lib().mpeg_SetDecryptCallback) Lib().mpeg_SetDecryptCallback(handle_, callback, user);
            if (Lib().mpeg_SetDecryptMode) Lib().mpeg_SetDecryptMode(handle_, mode);
        }
    }
    ~TempInstance() {
        if (handle_) Lib().mpeg_Done(&handle_);
    }
    TempInstance(const TempInstance&) = delete;
    TempInstance& operator=(const TempInstance&) = delete;
    void* get() const { return handle_; }

private:
    void* handle_ = nullptr;
};

// Sets the library's file: under its wide name where the library takes
// one, else under an ANSI name only where one names exactly this file (its
// own, or its short form); "RESOURCE://" and "POINTER://" names are no paths
// and go as they are. A name that cannot reach the library is refused with
// MPEG_ERR_NAME_OUTSIDE_CODE_PAGE rather than sent as a look-alike, which
// would open another file of that name.
constexpr int32_t MPEG_ERR_NAME_OUTSIDE_CODE_PAGE = -1;

int32_t SetLibraryFile(void* handle, const std::string& fileName) {
    const std::string upperName = wc::UpperCase(fileName);
    if (upperName.find("RESOURCE://") != std::string::npos || upperName.find("POINTER://") != std::string::npos)
        return Lib().mpeg_SetFileName(handle, fileName.c_str());
    if (Lib().mpeg_SetFileNameW) return Lib().mpeg_SetFileNameW(handle, wc::PathToWide(fileName).c_str());
    const std::string ansi = wc::AnsiPathFor(fileName);
    if (ansi.empty()) return MPEG_ERR_NAME_OUTSIDE_CODE_PAGE;
    return Lib().mpeg_SetFileName(handle, ansi.c_str());
}

// The name checks shared by CanRead and GetFileInfo; `waveTag` gets the
// format tag when the file is a RIFF WAVE file, else stays -1.
bool NameAcceptable(const std::string& fileName, const std::string& mask, int& waveTag) {
    waveTag = -1;
    // Byte-wise: the UTF-8 name's bytes are no text of the ANSI code page.
    const std::string name = wc::ExtractFileName(fileName);
    if (const size_t dot = name.rfind('.'); dot != std::string::npos)
        if (wc::UpperCase(mask).find(wc::UpperCase(name.substr(dot))) == std::string::npos) return false;
    if (!MpegLibraryAvailable() || !HasCoreEntryPoints(Lib()) || fileName.empty()) return false;
    const std::string upperName = wc::UpperCase(fileName);
    const bool special = upperName.find("RESOURCE://") != std::string::npos || upperName.find("POINTER://") != std::string::npos;
    if (!special && ::GetFileAttributesW(wc::PathToWide(fileName).c_str()) == INVALID_FILE_ATTRIBUTES) return false;
    PWaveIOHandle raw = nullptr;
    if (WaveIOOpen(raw, fileName.c_str(), kWaveFormType, WaveIOFlagFile) == 0 && raw) {
        const WaveIOHandlePtr handle(raw);
        waveTag = handle->format.wFormatTag;
    }
    return true;
}

bool IsMpegWaveTag(int tag) { return tag == 0x0050 || tag == 0x0055; }

constexpr const char* kMpegFileMask = "*.mp2;*.mp3;*.atx";

}  // namespace

// ---- TMMMpeg ----

TMMMpeg::TMMMpeg() {
    if (!MpegLibraryAvailable() || !HasCoreEntryPoints(Lib()))
        throw EMMMpegError(MMLoadString(MMMsg::UnableToLoad) + " " + MpegLibraryName);
    int32_t status = 0;
    instance_ = Lib().mpeg_Init(&status, &TMMMpeg::LibraryNotify, this);
    if (status != 0) {
        if (instance_) Lib().mpeg_Done(&instance_);
        instance_ = nullptr;
        RaiseStatus(status);
    }
}

TMMMpeg::~TMMMpeg() {
    try {
        Close();
    } catch (...) {
        // The instance goes whatever the library said.
    }
    if (instance_ && MpegLibraryAvailable()) Lib().mpeg_Done(&instance_);
}

void WINAPI TMMMpeg::LibraryNotify(int32_t, void* user) {
    auto* self = static_cast<TMMMpeg*>(user);
    if (!self) return;
    // No exception may cross the library's frames: it is kept and raised
    // once the library call returns.
    try {
        self->Change();
    } catch (...) {
        if (!self->pending_) self->pending_ = std::current_exception();
    }
}

void TMMMpeg::RethrowPending() {
    if (pending_) std::rethrow_exception(std::exchange(pending_, nullptr));
}

void TMMMpeg::Check(int32_t status, const std::string& suffix) {
    RethrowPending();
    if (status != 0) RaiseStatus(status, suffix);
}

bool TMMMpeg::IsEmpty() const { return Lib().mpeg_GetEmpty(instance_) != FALSE; }

void TMMMpeg::Change() {
    if (!IsEmpty()) {
        MpegFileInfo info{};
        const int32_t status = Lib().mpeg_GetFileInfo(instance_, &info);
        if (status != 0) RaiseStatus(status);
        info_ = info;
        RebuildFormat();
    } else {
        info_ = MpegFileInfo{};
    }
    TMMObject::Changed();
    observers_.NotifyObservers(this);
}

void TMMMpeg::RebuildFormat() {
    const bool mono = info_.Mode == smSingleChannel || ChannelMode() != cmBoth;
    const WAVEFORMATEX pcm = WavePCMFormat(mono ? 1 : 2, 16, uint32_t(std::max(info_.SampleRate, 0)));
    format_ = WaveCopyFormat(&pcm);
}

void TMMMpeg::SetTrailingHeader(uint32_t value) {
    if (value == trailingHeader_) return;
    trailingHeader_ = value;
    Check(Lib().mpeg_SetTrailingHeader(instance_, value));
}

std::string TMMMpeg::FileName() const {
    char name[256] = {};
    if (Lib().mpeg_GetFileName(instance_, name, sizeof name) != 0) return {};
    name[sizeof name - 1] = 0;
    return name;
}

void TMMMpeg::SetFileName(const std::string& value) {
    Close();
    const int32_t status = SetLibraryFile(instance_, value);
    if (status == MPEG_ERR_NAME_OUTSIDE_CODE_PAGE)
        throw EMMMpegError("the name \"" + value + "\" has characters outside the system's code page and no short "
                           "form, and the MPEG library takes no other names");
    Check(status);
}

TMpegVersion TMMMpeg::Version() const { return IsEmpty() ? v1 : TMpegVersion(info_.Version ? v1 : v2LSF); }
int32_t TMMMpeg::Layer() const { return IsEmpty() ? 0 : info_.Layer; }
TSampleMode TMMMpeg::Mode() const { return IsEmpty() ? smStereo : TSampleMode(std::min<uint8_t>(info_.Mode, smSingleChannel)); }
int32_t TMMMpeg::BitRate() const { return IsEmpty() ? 0 : info_.BitRate; }
int32_t TMMMpeg::SampleRate() const { return IsEmpty() ? 0 : info_.SampleRate; }
int32_t TMMMpeg::Frames() const { return IsEmpty() ? 0 : info_.Frames; }
int32_t TMMMpeg::Time() const { return IsEmpty() ? 0 : info_.PlayTime; }

TChannelMode TMMMpeg::ChannelMode() const {
    uint8_t mode = cmBoth;
    Lib().mpeg_GetChannelMode(instance_, &mode);
    return TChannelMode(std::min<uint8_t>(mode, cmDownMix));
}

void TMMMpeg::SetChannelMode(TChannelMode value) {
    if (opened_) RaiseMMError<EMMMpegError>(MMMsg::PropertyWhileOpen);
    Check(Lib().mpeg_SetChannelMode(instance_, value));
    RebuildFormat();
}

void TMMMpeg::SetExactposition(bool value) {
    exactPosition_ = value;
    Check(Lib().mpeg_SetExactPosition(instance_, value ? TRUE : FALSE));
}

int32_t TMMMpeg::BytesPerFrame() const {
    const WAVEFORMATEX* format = PWaveFormat();
    if (!format) return 0;
    const int64_t bytes = RoundEven(double(format->nAvgBytesPerSec) * info_.MsPerFrame / 1000.0);
    return int32_t(std::clamp<int64_t>(bytes, 0, INT32_MAX) / 4 * 4);
}

void TMMMpeg::Open() {
    if (IsEmpty() || opened_) return;
    Check(Lib().mpeg_OpenFile(instance_));
    opened_ = true;
}

void TMMMpeg::Close() {
    if (!opened_) return;
    opened_ = false;
    Check(Lib().mpeg_CloseFile(instance_));
}

void TMMMpeg::Reset() {
    if (opened_) Check(Lib().mpeg_ResetFile(instance_));
}

int32_t TMMMpeg::Read(void* buffer, int32_t count) {
    if (!opened_) return 0;
    const int32_t result = Lib().mpeg_ReadDataBytes(instance_, buffer, count);
    if (result < 0) RaiseStatus(-result);
    return result;
}

void TMMMpeg::AbortRead() {
    if (opened_) Lib().mpeg_AbortReadData(instance_);
}

int32_t TMMMpeg::Position() const { return Lib().mpeg_GetPosition(instance_); }

void TMMMpeg::SetPosition(int32_t frame) {
    const int32_t back = opened_ ? MpegSeekPreRoll : 0;
    Check(Lib().mpeg_SetPosition(instance_, std::max(frame - back, 0)), ": " + std::to_string(frame));
    if (!opened_) return;
    const int32_t bytes = std::min(BytesPerFrame(), MpegSeekScratchBytes);
    if (bytes <= 0) return;
    std::vector<uint8_t> scratch(MpegSeekScratchBytes);
    for (int32_t i = 0; i < MpegSeekMaxReads && Position() < frame && !EndReached(); ++i) Read(scratch.data(), bytes);
}

int32_t TMMMpeg::PositionMs() const {
    return int32_t(std::clamp<int64_t>(RoundEven(Position() * info_.MsPerFrame), INT32_MIN, INT32_MAX));
}

void TMMMpeg::SetPositionMs(int32_t ms) {
    const double perFrame = IsEmpty() ? 0.0 : info_.MsPerFrame;
    SetPosition(perFrame > 0 ? int32_t(std::clamp<int64_t>(RoundEven(ms / perFrame), INT32_MIN, INT32_MAX)) : 0);
}

void TMMMpeg::Scan(uint8_t writeScanFile, uint32_t value1, uint32_t value2) {
    if (IsEmpty()) return;
    Check(Lib().mpeg_ScanFile ? Lib().mpeg_ScanFile(instance_, writeScanFile, value1, value2) : 0);
    MpegFileInfo info{};
    Check(Lib().mpeg_GetFileInfo(instance_, &info));
    info_ = info;
}

void TMMMpeg::ScanEx(uint32_t value1, uint32_t value2) {
    if (IsEmpty()) return;
    Check(Lib().mpeg_ScanFileEx ? Lib().mpeg_ScanFileEx(instance_, value1, value2) : 0);
    MpegFileInfo info{};
    Check(Lib().mpeg_GetFileInfo(instance_, &info));
    info_ = info;
}

void TMMMpeg::Encrypt(const std::string& fileName, uint32_t value1, uint32_t value2, uint32_t value3) {
    if (Lib().mpeg_EncryptFile) Check(Lib().mpeg_EncryptFile(instance_, fileName.c_str(), value1, value2, value3));
}

void TMMMpeg::SetDecryptCallback(TMpegDecryptProc callback, uint32_t user) {
    if (Lib().mpeg_SetDecryptCallback) Check(Lib().mpeg_SetDecryptCallback(instance_, callback, user));
}

void TMMMpeg::SetDecryptMode(uint8_t mode) {
    if (Lib().mpeg_SetDecryptMode) Check(Lib().mpeg_SetDecryptMode(instance_, mode));
}

bool TMMMpeg::ReadTag(MpegTagInfo& tag) {
    if (IsEmpty()) return false;
    uint8_t block[Id3v1TagBytes] = {};
    if (!Lib().mpeg_ReadID3Tag(instance_, block)) return false;
    MpegTagFromBlock(block, tag);
    return true;
}

bool TMMMpeg::EndReached() const { return Lib().mpeg_GetDone(instance_) != FALSE; }

void TMMMpeg::Assign(const TMMObject* source) {
    const auto* other = dynamic_cast<const TMMMpeg*>(source);
    if (source && !other) throw wc::Exception("Cannot assign to a TMMMpeg");
    Close();
    Check(Lib().mpeg_Clear(instance_));
    if (other) {
        SetTrailingHeader(other->TrailingHeader());
        SetFileName(other->FileName());
        SetChannelMode(other->ChannelMode());
        SetPosition(other->Position());
    } else {
        Change();
    }
}

// ---- TMMMPEGFile ----

TMMMPEGFile::TMMMPEGFile(wc::TComponent* owner)
    : TMMCustomFile(owner), mpeg_(std::make_unique<TMMMpeg>()), observer_(std::make_unique<TMMObserver>()) {
    observer_->OnNotify = [this](TMMObserver*, void*) { MpegChanged(); };
    mpeg_->Observers().AddObserver(observer_.get());
}

TMMMPEGFile::~TMMMPEGFile() {
    try {
        Closed();
    } catch (...) {
        // Destruction goes on whatever a handler did.
    }
    DetachFromChain();
    mpeg_->Observers().RemoveObserver(observer_.get());
}

void TMMMPEGFile::MpegChanged() {
    SetPWaveFormat(mpeg_->PWaveFormat());
    Change();
}

bool TMMMPEGFile::CanReadFile(const std::string& fileName, TMpegDecryptProc callback, uint32_t user, uint8_t mode) {
    int waveTag = -1;
    if (!NameAcceptable(fileName, kMpegFileMask, waveTag)) return false;
    if (waveTag >= 0) return IsMpegWaveTag(waveTag);
    TempInstance instance(callback, user, mode);
    if (!instance.get()) return false;
    return SetLibraryFile(instance.get(), fileName) == 0 && !Lib().mpeg_GetEmpty(instance.get());
}

bool TMMMPEGFile::GetMpegFileInfo(const std::string& fileName, TMMFileInfo& info, bool scan, TMpegDecryptProc callback,
                                  uint32_t user, uint8_t mode) {
    int waveTag = -1;
    if (!NameAcceptable(fileName, kMpegFileMask, waveTag)) return false;
    if (waveTag >= 0 && !IsMpegWaveTag(waveTag)) return false;
    TempInstance instance(callback, user, mode);
    void* h = instance.get();
    if (!h || SetLibraryFile(h, fileName) != 0 || Lib().mpeg_GetEmpty(h)) return false;
    if (Lib().mpeg_OpenFile(h) != 0) return false;
    Lib().mpeg_CloseFile(h);
    MpegFileInfo mpeg{};
    if (Lib().mpeg_GetFileInfo(h, &mpeg) != 0) return false;
    if (scan && mpeg.BitRate == 0 && Lib().mpeg_ScanFile) {
        const size_t nameStart = fileName.size() - wc::ExtractFileName(fileName).size();
        const size_t dot = fileName.rfind('.');
        const std::string scanFile =
            (dot == std::string::npos || dot < nameStart ? fileName : fileName.substr(0, dot)) + ".scn";
        if (::GetFileAttributesW(wc::PathToWide(scanFile).c_str()) == INVALID_FILE_ATTRIBUTES)
            Lib().mpeg_ScanFile(h, 1, 0, 0);
        if (Lib().mpeg_GetFileInfo(h, &mpeg) != 0) return false;
    }
    info = TMMFileInfo{};
    info.Kind = FileKindMpeg;
    info.LengthMs = uint32_t(std::max(mpeg.PlayTime, 0));
    info.Info[0] = uint32_t(mpeg.Layer);
    info.Info[1] = uint32_t(mpeg.BitRate);
    static_assert(sizeof(mpeg.MsPerFrame) == 2 * sizeof(info.Info[2]));
    std::memcpy(&info.Info[2], &mpeg.MsPerFrame, sizeof mpeg.MsPerFrame);
    MpegTagInfo tag;
    MpegTagFromBlock(mpeg.Tag, tag);
    info.Tag = FileTagOf(tag);
    return true;
}

bool TMMMPEGFile::CanRead(const std::string& fileName) { return CanReadFile(fileName, decrypt_, decryptUser_, decryptMode_); }

bool TMMMPEGFile::GetFileInfo(const std::string& fileName, TMMFileInfo& info) {
    return GetMpegFileInfo(fileName, info, false, decrypt_, decryptUser_, decryptMode_);
}

std::string TMMMPEGFile::GetFilterText() const { return "MPEG Files (*.mp?;*.atx)|*.mp2;*.mp3;*.atx|Antex Files (*.atx)|*.atx"; }

std::string TMMMPEGFile::GetFileMask() const { return kMpegFileMask; }

void TMMMPEGFile::SetChannelMode(TChannelMode value) {
    mpeg_->SetChannelMode(value);
    // The decoder now delivers another channel count: the chain must know.
    MpegChanged();
}

void TMMMPEGFile::SetPosition(int64_t value) {
    mpeg_->SetPosition(int32_t(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX)));
}

void TMMMPEGFile::SetPositionMs(int32_t value) { mpeg_->SetPositionMs(value); }

void TMMMPEGFile::SetDecryptCallback(TMpegDecryptProc callback, uint32_t user) {
    decrypt_ = callback;
    decryptUser_ = user;
    mpeg_->SetDecryptCallback(callback, user);
}

void TMMMPEGFile::SetDecryptMode(uint8_t mode) {
    decryptMode_ = mode;
    mpeg_->SetDecryptMode(mode);
}

void TMMMPEGFile::ScanFile(uint8_t writeScanFile, uint32_t value1, uint32_t value2) {
    mpeg_->Scan(writeScanFile, value1, value2);
}

void TMMMPEGFile::ScanFileEx(uint32_t value1, uint32_t value2) { mpeg_->ScanEx(value1, value2); }

void TMMMPEGFile::EncryptFile(const std::string& fileName, uint32_t value1, uint32_t value2, uint32_t value3) {
    mpeg_->Encrypt(fileName, value1, value2, value3);
}

void TMMMPEGFile::Opened() {
    TMMCustomFile::Opened();
    if (fileOpened_) return;
    mpeg_->Open();
    fileOpened_ = mpeg_->IsOpened();
    savedPosition_ = mpeg_->Position();
}

void TMMMPEGFile::Started() {
    TMMCustomFile::Started();
    if (fileStarted_ || !fileOpened_) return;
    fileStarted_ = true;
    mpeg_->SetPosition(savedPosition_);
}

void TMMMPEGFile::Stopped() {
    if (fileOpened_ && fileStarted_) fileStarted_ = false;
    TMMCustomFile::Stopped();
}

void TMMMPEGFile::Closed() {
    if (fileOpened_) {
        Stopped();
        mpeg_->Close();
        fileOpened_ = false;
    }
    TMMCustomFile::Closed();
}

void TMMMPEGFile::BufferLoad(WaveHdrEx* header, bool& moreBuffers) {
    uint8_t* data = WaveHdrData(header);
    const DWORD capacity = header->wh.dwBufferLength;
    if (mpeg_->IsEmpty()) {
        header->wh.dwBytesRecorded = 0;
        return;
    }
    if (!fileStarted_ || !Enabled()) {
        std::memset(data, 0, capacity);
        header->wh.dwBytesRecorded = capacity;
        moreBuffers = true;
        return;
    }
    try {
        const int32_t read = mpeg_->Read(data, int32_t(std::min<DWORD>(capacity, INT32_MAX)));
        header->wh.dwBytesRecorded = DWORD(std::max(read, 0));
        if (read <= 0) return;
        if (!mpeg_->EndReached()) {
            moreBuffers = true;
            return;
        }
        if (header->LoopFlag == 0) return;
        if (header->LoopTotal > 0) --header->LoopsLeft;
        if (header->LoopTotal > 0 && header->LoopsLeft < 0) return;
        mpeg_->Reset();
        moreBuffers = true;
        header->LoopMark = LongBoolTrue;
    } catch (const std::exception&) {
        bool handled = false;
        if (OnError) OnError(this, handled);
        if (!handled) throw;
        header->wh.dwBytesRecorded = 4;
    }
}

bool TMMMPEGFile::SetProperty(const std::string& name, const wc::LayoutValue& value) {
    if (name == "FileName") {
        SetFileName(value.AsString());
        return true;
    }
    if (name == "TrailingHeader") {
        SetTrailingHeader(uint32_t(value.AsInteger()));
        return true;
    }
    if (name == "ChannelMode") {
        SetChannelMode(TChannelMode(wc::LayoutEnum(value, {"cmLeft", "cmRight", "cmBoth", "cmDownMix"})));
        return true;
    }
    if (name == "Exactposition") {
        SetExactposition(value.AsBoolean());
        return true;
    }
    // Read-only numbers stream but cannot be changed.
    for (const char* readOnly : {"BitRate", "SampleRate", "Channels", "Version", "Layer", "Mode", "PlayBackRate", "Frames", "Time"})
        if (name == readOnly) return true;
    return TMMCustomFile::SetProperty(name, value);
}
