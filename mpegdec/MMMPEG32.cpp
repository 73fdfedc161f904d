// The decoder instances and the exported entry points of MMMPEG32.DLL: the
// system's files (read in pieces, decrypted as read), the ".scn" scan
// files, encryption, and the handles around the file layer (MpegFile.h),
// which does the rest.
//
// Threads: the program calls an instance from its user-interface thread and
// from the thread that reads it for playback, and mpeg_AbortReadData may
// come from any thread.
// - `liveLock` guards `live`, the table of live instances, and is held only
//   to look a handle up, add or remove it. A lookup hands out a shared
//   reference, so an instance lives on until the last call that uses it
//   returns, even when mpeg_Done takes it out of the table meanwhile.
// - Every entry point that reads or changes an instance claims it for the
//   length of the call (Decoder::claimed, an atomic flag, set by a Claim and
//   cleared when it ends). A call that finds the instance claimed by another
//   call (another thread's) leaves it alone and answers MPEG_ERR_IN_USE
//   (minus it for a read, FALSE for mpeg_ReadID3Tag).
// - mpeg_GetPosition, mpeg_GetDone, mpeg_GetEmpty and mpeg_GetChannelMode
//   claim nothing: they answer from Decoder::shown, atomics that every claim
//   brings up to date as it ends, so a display may ask while a read runs.
// - mpeg_AbortReadData claims nothing: it raises the file's atomic abort
//   flag, which ends the read in progress (MpegFile.h). mpeg_Done takes the
//   instance out of the table and aborts a read in progress; the last
//   reference frees it.
// - The notification callback runs after the claim has ended, so that it
//   may ask the instance (the program reads the file's information there).
//
// No exception leaves an entry point: each answers MPEG_ERR_MEMORY for a
// failed allocation and MPEG_ERR_INTERNAL for anything else (as a negative
// count where it answers a count).
#include "mpegdec/MMMPEG32.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "framework/Handles.h"
#include "mpegdec/MpegFile.h"

using namespace mpegdec;

static_assert(uint8_t(OutputMode::Left) == MpegLeft && uint8_t(OutputMode::Right) == MpegRight && uint8_t(OutputMode::Both) == MpegBoth &&
              uint8_t(OutputMode::DownMix) == MpegDownMix);

namespace {

// The set file's bytes straight from the system, decrypted (the callback
// takes the low 32 bits of the file offset); MpegFile caches them.
class FileSource final : public ByteSource {
public:
    int32_t Open(const std::string& name, MpegDecryptProc decrypt, uint32_t user) {
        return Adopt(::CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr),
                     decrypt, user);
    }
    // The same under a wide name, which names exactly one file whatever the code page.
    int32_t OpenWide(const wchar_t* name, MpegDecryptProc decrypt, uint32_t user) {
        return Adopt(::CreateFileW(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr),
                     decrypt, user);
    }
    int32_t Adopt(HANDLE file, MpegDecryptProc decrypt, uint32_t user) {
        file_.reset(file);
        if (!file_) return MPEG_ERR_OPEN;
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(file_.get(), &size)) return MPEG_ERR_READ;
        size_ = uint64_t(size.QuadPart);
        decrypt_ = decrypt;
        user_ = user;
        return MPEG_OK;
    }

    uint64_t Size() const override { return size_; }

    int64_t Read(uint64_t offset, std::span<uint8_t> out) override {
        if (offset >= size_) return 0;
        const size_t count = size_t(std::min<uint64_t>(out.size(), size_ - offset));
        LARGE_INTEGER at{};
        at.QuadPart = LONGLONG(offset);
        if (!::SetFilePointerEx(file_.get(), at, nullptr, FILE_BEGIN)) return -1;
        size_t done = 0;
        while (done < count) {
            DWORD got = 0;
            const DWORD want = DWORD(std::min<size_t>(count - done, 1 << 20));
            if (!::ReadFile(file_.get(), out.data() + done, want, &got, nullptr)) return -1;
            if (got == 0) break;
            done += got;
        }
        if (decrypt_ && done > 0) decrypt_(user_, uint32_t(offset), out.data(), uint32_t(done));
        return int64_t(done);
    }

private:
    wc::FileHandle file_;
    uint64_t size_ = 0;
    MpegDecryptProc decrypt_ = nullptr;
    uint32_t user_ = 0;
};

// Reads of a whole file in pieces of this size (encryption).
constexpr size_t kPieceBytes = 64 * 1024;

struct Decoder {
    MpegNotifyProc notify = nullptr;
    void* user = nullptr;
    MpegDecryptProc decrypt = nullptr;
    uint32_t decryptUser = 0;
    uint8_t decryptMode = 0;
    uint32_t trailing = 0;
    uint32_t fileOffset = 0;
    bool exact = false;
    uint8_t channelMode = MpegBoth;

    std::string fileName;
    std::wstring wideFileName;  // set by mpeg_SetFileNameW: the name the file is opened by
    MpegFile file;
    int32_t bitRateKbps = 0;

    // Set while a call uses the instance.
    std::atomic<bool> claimed{false};
    // What the unclaimed getters answer, as the last claim left it.
    struct Shown {
        std::atomic<int32_t> position{0};
        std::atomic<bool> done{true};
        std::atomic<bool> empty{true};
        std::atomic<uint8_t> channelMode{MpegBoth};
    } shown;
};

wc::CriticalSection liveLock;
std::map<Decoder*, std::shared_ptr<Decoder>> live;  // guarded by liveLock

std::shared_ptr<Decoder> Find(MpegHandle handle) {
    wc::CriticalSectionLock lock(liveLock);
    auto it = live.find(static_cast<Decoder*>(handle));
    return it == live.end() ? nullptr : it->second;
}

// A live instance claimed for one call; empty when the handle is not live
// or another call has the instance.
class Claim {
public:
    explicit Claim(MpegHandle handle) : decoder_(Find(handle)) {
        if (decoder_ && decoder_->claimed.exchange(true, std::memory_order_acquire)) {
            inUse_ = true;
            decoder_.reset();
        }
    }
    ~Claim() {
        if (!decoder_) return;
        Decoder& d = *decoder_;
        d.shown.position.store(d.file.Position());
        d.shown.done.store(d.file.Done());
        d.shown.empty.store(d.file.Empty());
        d.shown.channelMode.store(d.channelMode);
        d.claimed.store(false, std::memory_order_release);
    }
    Claim(const Claim&) = delete;
    Claim& operator=(const Claim&) = delete;

    explicit operator bool() const noexcept { return decoder_ != nullptr; }
    Decoder& operator*() const noexcept { return *decoder_; }
    const std::shared_ptr<Decoder>& Shared() const noexcept { return decoder_; }
    // The status of a call that got no instance.
    int32_t Refusal() const noexcept { return inUse_ ? MPEG_ERR_IN_USE : MPEG_ERR_HANDLE; }

private:
    std::shared_ptr<Decoder> decoder_;
    bool inUse_ = false;
};

// The ".scn" file beside a file: its name with the extension replaced.
// Layout (little-endian): "MSCN", format 1 (u32), the file's size (u64),
// frames (u32), average bit rate in kbit/s (u32).
std::string ScanFileName(const std::string& name) {
    const size_t slash = name.find_last_of("\\/:");
    const size_t dot = name.find_last_of('.');
    const std::string stem = dot != std::string::npos && (slash == std::string::npos || dot > slash) ? name.substr(0, dot) : name;
    return stem + ".scn";
}

struct ScanRecord {
    char magic[4];
    uint32_t format;
    uint64_t fileSize;
    uint32_t frames;
    uint32_t kbps;
};
static_assert(sizeof(ScanRecord) == 24);

bool ReadScanFile(Decoder& d) {
    wc::FileHandle f(::CreateFileA(ScanFileName(d.fileName).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!f) return false;
    ScanRecord rec{};
    DWORD got = 0;
    if (!::ReadFile(f.get(), &rec, sizeof rec, &got, nullptr) || got != sizeof rec) return false;
    if (std::memcmp(rec.magic, "MSCN", 4) != 0 || rec.format != 1 || rec.fileSize != d.file.FileSize() ||
        (d.file.IndexComplete() && rec.frames != uint32_t(d.file.Frames())))
        return false;
    d.bitRateKbps = int32_t(std::min<uint32_t>(rec.kbps, 10000));
    return true;
}

bool WriteScanFile(const Decoder& d) {
    wc::FileHandle f(::CreateFileA(ScanFileName(d.fileName).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!f) return false;
    ScanRecord rec{{'M', 'S', 'C', 'N'}, 1, d.file.FileSize(), uint32_t(d.file.Frames()), uint32_t(d.bitRateKbps)};
    DWORD put = 0;
    return ::WriteFile(f.get(), &rec, sizeof rec, &put, nullptr) && put == sizeof rec;
}

void ClearFile(Decoder& d) {
    d.file.Clear();
    d.fileName.clear();
    d.wideFileName.clear();
    d.bitRateKbps = 0;
}

// `wideName`, when given, is the name the file is opened by; `name` is then
// only what mpeg_GetFileName reports.
int32_t SetFile(Decoder& d, const char* name, const wchar_t* wideName = nullptr) {
    ClearFile(d);
    if (!name || !*name || (wideName && !*wideName)) return MPEG_ERR_NO_FILE;
    if (d.decryptMode != 0 && !d.decrypt) return MPEG_ERR_NO_CALLBACK;
    auto source = std::make_unique<FileSource>();
    MpegDecryptProc decrypt = d.decryptMode != 0 ? d.decrypt : nullptr;
    int32_t status = wideName ? source->OpenWide(wideName, decrypt, d.decryptUser) : source->Open(name, decrypt, d.decryptUser);
    if (status != MPEG_OK) return status;
    status = d.file.Set(std::move(source), d.fileOffset, d.trailing);
    if (status != MPEG_OK) return status;
    d.file.SetOutputMode(OutputMode(d.channelMode));
    d.fileName = name;
    if (wideName) d.wideFileName = wideName;
    // A variable-rate file tells its rate only after a scan.
    d.bitRateKbps = d.file.VariableRate() ? 0 : d.file.First().BitRateKbps;
    if (d.bitRateKbps == 0) ReadScanFile(d);
    return MPEG_OK;
}

const char* ErrorText(int32_t code) {
    switch (code) {
    case MPEG_OK: return "No error";
    case MPEG_ERR_HANDLE: return "Invalid decoder handle";
    case MPEG_ERR_NO_FILE: return "No MPEG file set";
    case MPEG_ERR_OPEN: return "Unable to open the file";
    case MPEG_ERR_READ: return "Error reading the file";
    case MPEG_ERR_NO_FRAMES: return "No MPEG audio frames found in the file";
    case MPEG_ERR_FREE_FORMAT: return "Free format bit rate is not supported";
    case MPEG_ERR_RESERVED_FIELD: return "Frame header with a reserved bit rate or sample rate";
    case MPEG_ERR_ID3V2_SIZE: return "ID3v2 tag size points past the end of the file";
    case MPEG_ERR_NO_LAYER3_CODEC: return "No MPEG layer-3 decoder (format 0x0055) is installed";
    case MPEG_ERR_NO_LAYER12_CODEC: return "No MPEG layer-1/2 decoder (format 0x0050) is installed";
    case MPEG_ERR_DECODE: return "The MPEG decoder failed";
    case MPEG_ERR_NOT_OPEN: return "The MPEG file is not open";
    case MPEG_ERR_POSITION: return "Frame position out of range";
    case MPEG_ERR_ARGUMENT: return "Invalid argument";
    case MPEG_ERR_WRITE: return "Unable to write the file";
    case MPEG_ERR_TOO_LARGE: return "The file is larger than 2 GB";
    case MPEG_ERR_NO_CALLBACK: return "No decrypt callback set";
    case MPEG_ERR_WAVE_NO_MPEG: return "The WAVE file holds no MPEG audio data";
    case MPEG_ERR_BUSY: return "The MPEG file is open";
    case MPEG_ERR_MEMORY: return "Not enough memory";
    case MPEG_ERR_INTERNAL: return "Internal error in the MPEG decoder";
    case MPEG_ERR_IN_USE: return "The MPEG decoder is in use by another call";
    default: return nullptr;
    }
}

}  // namespace

// Runs an entry point's body: no exception leaves the library.
template <class Result, class Body>
Result Guarded(Result onMemory, Result onOther, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return onMemory;
    } catch (...) {
        return onOther;
    }
}

// Runs `body(decoder, tell)` on the claimed instance; when it sets `tell`,
// the program is told with its status once the claim has ended.
template <class Body>
int32_t Telling(MpegHandle handle, Body&& body) noexcept {
    std::shared_ptr<Decoder> told;
    const int32_t status = Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        Claim claim(handle);
        if (!claim) return claim.Refusal();
        bool tell = false;
        const int32_t result = body(*claim, tell);
        if (tell) told = claim.Shared();
        return result;
    });
    if (told && told->notify) told->notify(status, told->user);
    return status;
}

// ---- entry points ----

MMMPEG32_API int32_t WINAPI mpeg_Version() { return MpegLibraryVersion; }

MMMPEG32_API MpegHandle WINAPI mpeg_Init(int32_t* status, MpegNotifyProc notify, void* user) {
    Decoder* handle = nullptr;
    const int32_t result = Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        auto decoder = std::make_shared<Decoder>();
        decoder->notify = notify;
        decoder->user = user;
        Decoder* made = decoder.get();
        wc::CriticalSectionLock lock(liveLock);
        live.emplace(made, std::move(decoder));
        handle = made;
        return MPEG_OK;
    });
    if (status) *status = result;
    return handle;
}

MMMPEG32_API void WINAPI mpeg_Done(MpegHandle* handle) {
    if (!handle) return;
    std::shared_ptr<Decoder> owned;
    {
        wc::CriticalSectionLock lock(liveLock);
        auto it = live.find(static_cast<Decoder*>(*handle));
        if (it == live.end()) return;
        owned = std::move(it->second);
        live.erase(it);
    }
    // A read on another thread returns soon; the instance goes with the
    // last call that uses it (with this reference when none does).
    owned->file.Abort();
    *handle = nullptr;
}

// Claims the instance of `handle` as `d` for the rest of the body, or
// returns `fail` (which may use claim.Refusal()).
#define CLAIM_OR(fail)       \
    Claim claim(handle);     \
    if (!claim) return fail; \
    Decoder* const d = &*claim

MMMPEG32_API int32_t WINAPI mpeg_SetDecryptCallback(MpegHandle handle, MpegDecryptProc callback, uint32_t user) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        CLAIM_OR(claim.Refusal());
        d->decrypt = callback;
        d->decryptUser = user;
        return MPEG_OK;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_SetDecryptMode(MpegHandle handle, uint8_t mode) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        CLAIM_OR(claim.Refusal());
        d->decryptMode = mode;
        return MPEG_OK;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_Clear(MpegHandle handle) {
    return Telling(handle, [&](Decoder& d, bool& tell) {
        ClearFile(d);
        tell = true;
        return int32_t(MPEG_OK);
    });
}

MMMPEG32_API int32_t WINAPI mpeg_SetTrailingHeader(MpegHandle handle, uint32_t size) {
    return Telling(handle, [&](Decoder& d, bool& tell) -> int32_t {
        if (size == d.trailing) return MPEG_OK;
        d.trailing = size;
        if (d.file.Empty()) return MPEG_OK;
        // The audio area changes at once: the file is indexed again, and an
        // open file goes on from where it was (or its new end).
        const bool wasOpen = d.file.IsOpen();
        d.file.Close();
        const uint32_t position = uint32_t(d.file.Position());
        const uint64_t sample = d.file.SamplePosition();
        const std::string name = d.fileName;
        const std::wstring wideName = d.wideFileName;
        int32_t status = SetFile(d, name.c_str(), wideName.empty() ? nullptr : wideName.c_str());
        if (status == MPEG_OK) {
            d.file.PlaceClosed(position, sample);
            if (wasOpen) status = d.file.Open();
        }
        tell = true;
        return status;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_SetExactPosition(MpegHandle handle, BOOL exact) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        CLAIM_OR(claim.Refusal());
        d->exact = exact != FALSE;
        return MPEG_OK;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_SetFileOffset(MpegHandle handle, uint32_t offset) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        CLAIM_OR(claim.Refusal());
        d->fileOffset = offset;
        return MPEG_OK;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_SetFileName(MpegHandle handle, const char* fileName) {
    return Telling(handle, [&](Decoder& d, bool& tell) {
        tell = true;
        return SetFile(d, fileName);
    });
}

MMMPEG32_API int32_t WINAPI mpeg_SetFileNameW(MpegHandle handle, const wchar_t* fileName) {
    return Telling(handle, [&](Decoder& d, bool& tell) -> int32_t {
        tell = true;
        if (!fileName) return SetFile(d, nullptr);
        // The reported name: the wide one in the code page, with no
        // look-alike characters put in for those it lacks ("?" instead), so
        // that it never names another file.
        const int size = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, fileName, -1, nullptr, 0, nullptr, nullptr);
        std::string reported(size_t(size > 0 ? size : 1), '\0');
        if (size > 0) ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, fileName, -1, reported.data(), size, nullptr, nullptr);
        return SetFile(d, reported.c_str(), fileName);
    });
}

MMMPEG32_API int32_t WINAPI mpeg_GetFileName(MpegHandle handle, char* buffer, int32_t size) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        CLAIM_OR(claim.Refusal());
        if (!buffer || size <= 0) return MPEG_ERR_ARGUMENT;
        const size_t n = std::min<size_t>(d->fileName.size(), size_t(size) - 1);
        std::memcpy(buffer, d->fileName.data(), n);
        buffer[n] = 0;
        return MPEG_OK;
    });
}

MMMPEG32_API BOOL WINAPI mpeg_GetEmpty(MpegHandle handle) {
    return Guarded<BOOL>(TRUE, TRUE, [&]() -> BOOL {
        const std::shared_ptr<Decoder> d = Find(handle);
        return !d || d->shown.empty.load() ? TRUE : FALSE;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_GetFileInfo(MpegHandle handle, MpegFileInfoRec* info) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        CLAIM_OR(claim.Refusal());
        if (!info) return MPEG_ERR_ARGUMENT;
        if (d->file.Empty()) return MPEG_ERR_NO_FILE;
        const FrameHeader& h = d->file.First();
        MpegFileInfoRec rec{};
        rec.Version = h.Version == MpegVersion::Mpeg1 ? 1 : 0;
        rec.Layer = h.Layer;
        rec.Channels = h.Channels();
        rec.SampleRate = h.SampleRate;
        rec.BitRate = d->bitRateKbps;
        rec.Mode = uint8_t(h.ModeBits);
        rec.Frames = d->file.Frames();
        rec.MsPerFrame = d->file.MsPerFrame();
        rec.PlayTimeMs = d->file.PlayTimeMs();
        rec.VersionDetail = h.Version == MpegVersion::Mpeg1 ? 10 : h.Version == MpegVersion::Mpeg2 ? 20 : 25;
        if (d->file.Layout().HasId3v1) std::memcpy(rec.Tag, d->file.Layout().Id3v1, sizeof rec.Tag);
        std::memcpy(info, &rec, sizeof rec);
        return MPEG_OK;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_SetChannelMode(MpegHandle handle, int32_t mode) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        CLAIM_OR(claim.Refusal());
        if (mode < MpegLeft || mode > MpegDownMix) return MPEG_ERR_ARGUMENT;
        if (d->file.IsOpen()) return MPEG_ERR_BUSY;
        d->channelMode = uint8_t(mode);
        d->file.SetOutputMode(OutputMode(mode));
        return MPEG_OK;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_GetChannelMode(MpegHandle handle, uint8_t* mode) {
    return Guarded<int32_t>(int32_t(MpegBoth), int32_t(MpegBoth), [&]() -> int32_t {
        const std::shared_ptr<Decoder> d = Find(handle);
        if (!d) return MpegBoth;
        const uint8_t current = d->shown.channelMode.load();
        if (mode) *mode = current;
        return current;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_SetPosition(MpegHandle handle, int32_t frame) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        CLAIM_OR(claim.Refusal());
        return d->file.SeekFrame(frame);
    });
}

MMMPEG32_API int32_t WINAPI mpeg_SetSamplePosition(MpegHandle handle, uint32_t sample) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        CLAIM_OR(claim.Refusal());
        return d->file.SeekSample(sample);
    });
}

MMMPEG32_API int32_t WINAPI mpeg_GetPosition(MpegHandle handle) {
    return Guarded<int32_t>(0, 0, [&]() -> int32_t {
        const std::shared_ptr<Decoder> d = Find(handle);
        return d ? d->shown.position.load() : 0;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_OpenFile(MpegHandle handle) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        CLAIM_OR(claim.Refusal());
        return d->file.Open();
    });
}

MMMPEG32_API int32_t WINAPI mpeg_CloseFile(MpegHandle handle) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        CLAIM_OR(claim.Refusal());
        d->file.Close();
        return MPEG_OK;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_ResetFile(MpegHandle handle) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        CLAIM_OR(claim.Refusal());
        return d->file.Rewind();
    });
}

MMMPEG32_API int32_t WINAPI mpeg_ReadDataBytes(MpegHandle handle, void* buffer, int32_t count) {
    return Guarded<int32_t>(-MPEG_ERR_MEMORY, -MPEG_ERR_INTERNAL, [&]() -> int32_t {
        CLAIM_OR(-claim.Refusal());
        return d->file.Read(buffer, count, nullptr);
    });
}

MMMPEG32_API int32_t WINAPI mpeg_ReadDataBytesEx(MpegHandle handle, void* buffer, int32_t count, int32_t* frame) {
    return Guarded<int32_t>(-MPEG_ERR_MEMORY, -MPEG_ERR_INTERNAL, [&]() -> int32_t {
        CLAIM_OR(-claim.Refusal());
        return d->file.Read(buffer, count, frame);
    });
}

MMMPEG32_API int32_t WINAPI mpeg_AbortReadData(MpegHandle handle) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        const std::shared_ptr<Decoder> d = Find(handle);
        if (!d) return MPEG_ERR_HANDLE;
        d->file.Abort();
        return MPEG_OK;
    });
}

MMMPEG32_API BOOL WINAPI mpeg_GetDone(MpegHandle handle) {
    return Guarded<BOOL>(TRUE, TRUE, [&]() -> BOOL {
        const std::shared_ptr<Decoder> d = Find(handle);
        return !d || d->shown.done.load() ? TRUE : FALSE;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_ScanFile(MpegHandle handle, uint8_t writeScanFile, uint32_t reserved1, uint32_t reserved2) {
    return Telling(handle, [&](Decoder& d, bool& tell) -> int32_t {
        if (d.file.Empty()) return MPEG_ERR_NO_FILE;
        if (reserved1 != 0 || reserved2 != 0) return MPEG_ERR_ARGUMENT;
        if (d.file.IndexAll() != MPEG_OK) return MPEG_ERR_READ;
        d.bitRateKbps = d.file.AverageKbps(0, uint32_t(d.file.Frames()));
        if (writeScanFile && !WriteScanFile(d)) return MPEG_ERR_WRITE;
        tell = true;
        return MPEG_OK;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_ScanFileEx(MpegHandle handle, uint32_t firstFrame, uint32_t count) {
    return Telling(handle, [&](Decoder& d, bool& tell) -> int32_t {
        if (d.file.Empty()) return MPEG_ERR_NO_FILE;
        if (d.file.IndexAll() != MPEG_OK) return MPEG_ERR_READ;
        const uint32_t frames = uint32_t(d.file.Frames());
        if (firstFrame >= frames) return MPEG_ERR_POSITION;
        const uint32_t n = count == 0 ? frames - firstFrame : std::min(count, frames - firstFrame);
        d.bitRateKbps = d.file.AverageKbps(firstFrame, n);
        tell = true;
        return MPEG_OK;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_EncryptFile(MpegHandle handle, const char* fileName, uint32_t startOffset, uint32_t length,
                                            uint32_t reserved) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        CLAIM_OR(claim.Refusal());
        if (d->fileName.empty()) return MPEG_ERR_NO_FILE;
        if (!fileName || !*fileName || reserved != 0) return MPEG_ERR_ARGUMENT;
        if (!d->decrypt) return MPEG_ERR_NO_CALLBACK;
        // The plain bytes of the set file, as they are on disk, in pieces.
        FileSource plain;
        const int32_t status = plain.Open(d->fileName, nullptr, 0);
        if (status != MPEG_OK) return status;
        const uint64_t size = plain.Size();
        const uint64_t start = std::min<uint64_t>(startOffset, size);
        const uint64_t end = length == 0 ? size : std::min<uint64_t>(start + length, size);
        wc::FileHandle f(::CreateFileA(fileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        if (!f) return MPEG_ERR_WRITE;
        std::vector<uint8_t> piece(kPieceBytes);
        for (uint64_t at = 0; at < size; at += piece.size()) {
            const size_t count = size_t(std::min<uint64_t>(piece.size(), size - at));
            if (plain.Read(at, std::span<uint8_t>(piece.data(), count)) != int64_t(count)) return MPEG_ERR_READ;
            const uint64_t from = std::max(at, start), to = std::min(at + count, end);
            if (to > from) d->decrypt(d->decryptUser, uint32_t(from), piece.data() + (from - at), uint32_t(to - from));
            DWORD put = 0;
            if (!::WriteFile(f.get(), piece.data(), DWORD(count), &put, nullptr) || put != count) return MPEG_ERR_WRITE;
        }
        return MPEG_OK;
    });
}

MMMPEG32_API BOOL WINAPI mpeg_ReadID3Tag(MpegHandle handle, uint8_t* tag) {
    return Guarded<BOOL>(FALSE, FALSE, [&]() -> BOOL {
        CLAIM_OR(FALSE);
        if (!tag || d->file.Empty() || !d->file.Layout().HasId3v1) return FALSE;
        std::memcpy(tag, d->file.Layout().Id3v1, 128);
        return TRUE;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_GetErrorText(int32_t code, char* buffer, int32_t size) {
    return Guarded<int32_t>(1, 1, [&]() -> int32_t {
        const char* text = ErrorText(code);
        if (!text || !buffer || size <= 0) return 1;
        const size_t n = std::min<size_t>(std::strlen(text), size_t(size) - 1);
        std::memcpy(buffer, text, n);
        buffer[n] = 0;
        return 0;
    });
}
