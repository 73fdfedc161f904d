// RIFF WAVE handles: open (chunk scan), create, access, seek, read, write,
// finish, and the INFO and DISP lists they carry.
#include "media/MMWaveIO.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "framework/Files.h"
#include "framework/Strings.h"

namespace {

constexpr FOURCC kFmt = mmioFOURCC('f', 'm', 't', ' ');
constexpr FOURCC kData = mmioFOURCC('d', 'a', 't', 'a');
constexpr FOURCC kFact = mmioFOURCC('f', 'a', 'c', 't');
constexpr FOURCC kInfo = mmioFOURCC('I', 'N', 'F', 'O');
constexpr FOURCC kDisp = mmioFOURCC('D', 'I', 'S', 'P');

constexpr uint32_t kChunkHeaderBytes = 8;   // id and size
constexpr uint32_t kListTypeBytes = 4;      // the list or form type behind a LIST/RIFF header
constexpr uint32_t kPcmFmtChunkBytes = 16;  // PCM is stored without cbSize
constexpr uint32_t kFormatRecordBytes = sizeof(WAVEFORMATEX);

// The largest file mmio's signed 32-bit offsets can address.
constexpr int64_t kMaxFileSize = 0x7FFFFFFF;

// ---- little-endian writing ----

void PutU32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = uint8_t(value >> (8 * i));
}

// ---- mmio helpers ----

// mmioOpen writes a full path back into the name with some flags, so it
// always gets its own generous copy.
std::vector<char> NameBuffer(const std::string& name) {
    std::vector<char> buffer(std::max<size_t>(name.size() + 1, 1024), 0);
    std::memcpy(buffer.data(), name.data(), name.size());
    return buffer;
}

// Names are UTF-8. The multimedia I/O layer works on ANSI names (Wine's
// mmioOpenW too converts to them), so a name outside the code page is
// opened under its short form, and a file to be made under such a name is
// made first so that it has one.
HMMIO OpenMmio(const char* name, DWORD flags) {
    if ((flags & MMIO_CREATE) && !wc::FitsCodePage(name)) {
        const std::wstring wide = wc::PathToWide(name);
        wc::FileHandle made(::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    std::vector<char> buffer = NameBuffer(wc::AnsiPathFor(name));
    return ::mmioOpenA(buffer.data(), nullptr, flags);
}

int64_t Tell(HMMIO file) { return ::mmioSeek(file, 0, SEEK_CUR); }

bool SeekTo(HMMIO file, int64_t offset) {
    if (offset < 0 || offset > kMaxFileSize) return false;
    return ::mmioSeek(file, LONG(offset), SEEK_SET) == offset;
}

bool ReadExactly(HMMIO file, void* buffer, uint32_t count) {
    if (count == 0) return true;
    if (count > uint32_t(kMaxFileSize)) return false;
    return ::mmioRead(file, static_cast<HPSTR>(buffer), LONG(count)) == LONG(count);
}

bool WriteExactly(HMMIO file, const void* buffer, uint32_t count) {
    if (count == 0) return true;
    return ::mmioWrite(file, static_cast<const char*>(buffer), LONG(count)) == LONG(count);
}

// Opening steps shared by WaveIOOpen and WaveIOBeginAccess: a system buffer,
// read/write unless the file is read-only (falling back to read-only), and
// the first chunk must be a RIFF form of the requested type.
int OpenRiffForm(const char* name, FOURCC formType, wc::MmioHandle& file, MMCKINFO& riff) {
    const DWORD attributes = ::GetFileAttributesW(wc::PathToWide(name).c_str());
    const bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    HMMIO opened = nullptr;
    if (!readOnly) opened = OpenMmio(name, MMIO_READWRITE | MMIO_ALLOCBUF);
    if (!opened) opened = OpenMmio(name, MMIO_READ | MMIO_ALLOCBUF);
    if (!opened) return WaveIOErrFile;
    file.reset(opened);
    riff = {};
    if (::mmioDescend(opened, &riff, nullptr, 0) != 0 || riff.ckid != FOURCC_RIFF || riff.fccType != formType) {
        file.reset();
        return WaveIOErrFile;
    }
    return 0;
}

// The RIFF size as far as the file holds it. A size too small to hold even
// the form type and one chunk header is a placeholder (0 is what a recording
// leaves until it is finished): the form then runs to the end of the file.
// Streamed files carry 0xFFFFFFFF, which the cut brings back to the file.
void CutRiffToFile(MMCKINFO& riff, int64_t fileSize) {
    const int64_t held = std::max<int64_t>(0, fileSize - int64_t(riff.dwDataOffset));
    if (riff.cksize < kListTypeBytes + kChunkHeaderBytes || int64_t(riff.cksize) > held) riff.cksize = uint32_t(held);
}

// Four printable characters: what every registered chunk id is made of.
bool PlausibleChunkId(FOURCC id) {
    for (int i = 0; i < 4; ++i) {
        const uint8_t c = uint8_t(id >> (8 * i));
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}

// ---- the handle block ----

void DestroyHandle(WaveIOHandle* handle) noexcept {
    if (!handle) return;
    handle->~WaveIOHandle();
    std::free(handle);
}

struct HandleDestroyer {
    void operator()(WaveIOHandle* handle) const noexcept { DestroyHandle(handle); }
};
using NewHandle = std::unique_ptr<WaveIOHandle, HandleDestroyer>;

// A zero-filled block for the header and `formatBytes` bytes of format (at
// least the 18 of the record) plus the spare zero byte.
NewHandle AllocateHandle(const uint8_t* format, uint32_t formatBytes) {
    const size_t formatArea = std::max(formatBytes, kFormatRecordBytes);
    const size_t size = sizeof(WaveIOHandle) - sizeof(WAVEFORMATEX) + formatArea + 1;
    void* block = std::calloc(1, size);
    if (!block) return nullptr;
    NewHandle handle(::new (block) WaveIOHandle());
    handle->size = uint32_t(size);
    std::memcpy(&handle->format, format, formatBytes);
    return handle;
}

bool IsPcm(const WAVEFORMATEX& format) { return format.wFormatTag == WAVE_FORMAT_PCM; }

// A format whose counts would divide by zero somewhere.
bool Convertible(const WAVEFORMATEX& format) {
    return format.nChannels && format.nSamplesPerSec && format.nAvgBytesPerSec && format.nBlockAlign;
}

// ---- INFO and DISP chunks while scanning ----

int ReadInfoChunk(HMMIO file, const MMCKINFO& chunk, InfoList& list) {
    if (chunk.cksize <= kListTypeBytes) return 0;
    try {
        std::vector<char> body(chunk.cksize - kListTypeBytes);
        if (!ReadExactly(file, body.data(), uint32_t(body.size()))) return RiffErrIO;
        list.TakeBody(std::move(body));
    } catch (const std::bad_alloc&) {
        return RiffErrNoMemory;
    }
    return 0;
}

int ReadDisplayChunk(HMMIO file, const MMCKINFO& chunk, DisplayList& list) {
    if (chunk.cksize <= 4) return 0;
    try {
        std::vector<uint8_t> body(chunk.cksize);
        if (!ReadExactly(file, body.data(), uint32_t(body.size()))) return RiffErrIO;
        list.AddChunkBody(body.data(), body.size());
    } catch (const std::bad_alloc&) {
        return RiffErrNoMemory;
    }
    return 0;
}

// What the chunk scan learned about a file.
struct Scan {
    std::vector<uint8_t> format;
    bool haveFormat = false;
    bool haveData = false;
    uint32_t dataDeclared = 0;
    uint32_t dataOffset = 0;
    int64_t dataEnd = 0;
    bool haveFact = false;
    uint32_t factOffset = 0;
    std::unique_ptr<InfoList> info;
    std::unique_ptr<DisplayList> display;
};

// Walks the chunks inside the RIFF form; 0 or the code that ends the open.
int ScanChunks(HMMIO file, MMCKINFO& riff, int64_t fileSize, Scan& scan) {
    const int64_t riffEnd = int64_t(riff.dwDataOffset) + riff.cksize;
    scan.dataEnd = fileSize;
    bool dataEndPending = false;
    for (;;) {
        // The system's descend also stops at the parent's end; this keeps it
        // from reading a header that would reach past the form.
        const int64_t here = Tell(file);
        if (here < 0 || here + kChunkHeaderBytes > riffEnd) break;
        MMCKINFO chunk{};
        if (::mmioDescend(file, &chunk, &riff, 0) != 0) break;

        const int64_t chunkEnd = int64_t(chunk.dwDataOffset) + chunk.cksize;
        bool cutByFileEnd = false;
        if (chunkEnd > riffEnd) {
            if (scan.haveFormat && scan.haveData) break;
            if (chunkEnd > fileSize) {
                chunk.cksize = uint32_t(std::max<int64_t>(0, fileSize - chunk.dwDataOffset));
                cutByFileEnd = true;
            }
        }
        if (dataEndPending) {
            // Behind a data chunk that claims no bytes (an interrupted
            // recording) come its samples, not a chunk: silence would read
            // as an empty chunk of id 0. They run on to the end of the form.
            if (scan.dataDeclared == 0 && !PlausibleChunkId(chunk.ckid)) break;
            scan.dataEnd = int64_t(chunk.dwDataOffset) - kChunkHeaderBytes;
            dataEndPending = false;
        }

        int code = 0;
        if (chunk.ckid == FOURCC_LIST && chunk.fccType == kInfo) {
            if (!scan.info->HasBody()) code = ReadInfoChunk(file, chunk, *scan.info);
        } else if (chunk.ckid == kDisp) {
            code = ReadDisplayChunk(file, chunk, *scan.display);
        } else if (chunk.ckid == kFmt) {
            if (scan.haveFormat) break;
            // A format the file ends inside of is no format: its missing
            // fields would read as zeros.
            if (cutByFileEnd) return WaveIOErrFile;
            try {
                scan.format.assign(std::max<uint32_t>(chunk.cksize, kFormatRecordBytes), 0);
            } catch (const std::bad_alloc&) {
                return WaveIOErrNoMemory;
            }
            if (!ReadExactly(file, scan.format.data(), chunk.cksize)) return WaveIOErrFile;
            // A cbSize that claims more than the chunk holds is cut to it.
            auto* record = reinterpret_cast<WAVEFORMATEX*>(scan.format.data());
            const uint32_t extraHeld = chunk.cksize > kFormatRecordBytes ? chunk.cksize - kFormatRecordBytes : 0;
            if (record->cbSize > extraHeld) record->cbSize = uint16_t(extraHeld);
            scan.haveFormat = true;
        } else if (chunk.ckid == kData) {
            if (scan.haveData && scan.dataDeclared != 0) break;
            scan.haveData = true;
            scan.dataDeclared = chunk.cksize;
            scan.dataOffset = chunk.dwDataOffset;
            dataEndPending = true;
        } else if (chunk.ckid == kFact) {
            if (scan.haveFact) break;
            scan.haveFact = true;
            uint8_t count[4];
            // Only a count before the data can be rewritten in place later.
            if (chunk.cksize >= 4 && ReadExactly(file, count, 4) && !scan.haveData)
                scan.factOffset = chunk.dwDataOffset;
        }
        if (code != 0) return code;

        if (::mmioAscend(file, &chunk, 0) != 0) {
            if (scan.haveData) break;
            return WaveIOErrFile;
        }
    }
    return 0;
}

// ---- finishing a written file ----

int WriteChunk(HMMIO file, FOURCC id, const std::vector<const void*>& parts, const std::vector<uint32_t>& sizes) {
    MMCKINFO chunk{};
    chunk.ckid = id;
    if (::mmioCreateChunk(file, &chunk, 0) != 0) return WaveIOErrFile;
    for (size_t i = 0; i < parts.size(); ++i)
        if (!WriteExactly(file, parts[i], sizes[i])) return WaveIOErrFile;
    if (::mmioAscend(file, &chunk, 0) != 0) return WaveIOErrFile;
    return 0;
}

int WriteDisplayChunks(HMMIO file, const DisplayList& list) {
    for (const DisplayEntry& entry : list.Entries()) {
        const std::vector<uint8_t>& data = entry.Current();
        if (data.empty() || (entry.type != kDisplayText && entry.type != kDisplayBitmap)) continue;
        uint8_t type[4];
        PutU32(type, entry.type);
        int code;
        if (entry.type == kDisplayText) {
            const auto* text = reinterpret_cast<const char*>(data.data());
            const uint32_t length = uint32_t(std::find(data.begin(), data.end(), 0) - data.begin());
            if (length == 0) continue;
            const char zero = 0;
            code = WriteChunk(file, kDisp, {type, text, &zero}, {4, length, 1});
        } else {
            code = WriteChunk(file, kDisp, {type, data.data()}, {4, uint32_t(data.size())});
        }
        if (code != 0) return code;
    }
    return 0;
}

int WriteInfoList(HMMIO file, const InfoList& list) {
    if (!list.HasTexts()) return 0;
    MMCKINFO chunk{};
    chunk.fccType = kInfo;
    if (::mmioCreateChunk(file, &chunk, MMIO_CREATELIST) != 0) return WaveIOErrFile;
    for (size_t i = 0; i < InfoIdTable.size(); ++i) {
        const std::string_view text = list.Text(i);
        if (text.empty()) continue;
        const char zero = 0;
        const int code = WriteChunk(file, InfoIdTable[i].id, {text.data(), &zero}, {uint32_t(text.size()), 1});
        if (code != 0) return code;
    }
    if (::mmioAscend(file, &chunk, 0) != 0) return WaveIOErrFile;
    return 0;
}

// Rewrites sizes and writes the trailing chunks; the file stays open.
int FinishFile(WaveIOHandle& handle, int64_t& riffEnd) {
    HMMIO file = handle.file.get();
    if (::mmioFlush(file, 0) != 0) return WaveIOErrFile;
    const bool created = handle.riffChunk.dwFlags & MMIO_DIRTY;
    if (!created) {
        // Appended to an existing file: both sizes are measured again.
        handle.dataChunk.cksize = 0;
        handle.dataChunk.dwFlags |= MMIO_DIRTY;
        handle.riffChunk.cksize = 0;
        handle.riffChunk.dwFlags |= MMIO_DIRTY;
    }
    // The data ends behind its last byte, wherever the last write was.
    if (!SeekTo(file, int64_t(handle.dataOffset) + handle.dataBytes)) return WaveIOErrFile;
    if (::mmioAscend(file, &handle.dataChunk, 0) != 0) return WaveIOErrFile;

    if (!IsPcm(handle.format)) {
        uint8_t count[4];
        PutU32(count, handle.totalSamples);
        if (!created && handle.factOffset != 0) {
            // An existing count before the data is kept current in place: a
            // second "fact" behind the data would end the next open's scan.
            const int64_t back = Tell(file);
            if (back < 0 || !SeekTo(file, handle.factOffset) || !WriteExactly(file, count, 4) || !SeekTo(file, back))
                return WaveIOErrFile;
        } else {
            const int code = WriteChunk(file, kFact, {count}, {4});
            if (code != 0) return code;
        }
    }
    if (handle.displayList) {
        if (const int code = WriteDisplayChunks(file, *handle.displayList)) return code;
    }
    if (handle.infoList) {
        if (const int code = WriteInfoList(file, *handle.infoList)) return code;
    }
    riffEnd = Tell(file);
    if (riffEnd < 0) return WaveIOErrFile;
    if (::mmioAscend(file, &handle.riffChunk, 0) != 0) return WaveIOErrFile;
    const LONG end = ::mmioSeek(file, 0, SEEK_END);
    if (end < 0) return WaveIOErrFile;
    riffEnd += riffEnd & 1;
    handle.fileSize = uint32_t(end);
    handle.rangeEnd = handle.totalSamples;
    return 0;
}

// Cuts what an earlier, longer version of the file left behind the form;
// it would otherwise read as samples the next time.
bool TruncateFile(const std::string& name, int64_t size) {
    wc::FileHandle file(::CreateFileW(wc::PathToWide(name).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    LARGE_INTEGER at;
    at.QuadPart = size;
    return ::SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.get());
}

}  // namespace

// ---- handle operations ----

int WaveIOOpen(PWaveIOHandle& handle, const char* fileName, FOURCC formType, uint32_t flags) {
    handle = nullptr;
    if (!fileName) return WaveIOErrBadParam;
    wc::MmioHandle file;
    MMCKINFO riff{};
    if (OpenRiffForm(fileName, formType, file, riff) != 0) return WaveIOErrFile;

    const LONG fileEnd = ::mmioSeek(file.get(), 0, SEEK_END);
    if (fileEnd < 0 || !SeekTo(file.get(), int64_t(riff.dwDataOffset) + kListTypeBytes)) return WaveIOErrFile;
    const int64_t fileSize = fileEnd;
    CutRiffToFile(riff, fileSize);

    Scan scan;
    try {
        scan.info = std::make_unique<InfoList>();
        scan.display = std::make_unique<DisplayList>();
    } catch (const std::bad_alloc&) {
        return RiffErrNoMemory;
    }
    if (const int code = ScanChunks(file.get(), riff, fileSize, scan)) return code;
    if (!scan.haveFormat) return WaveIOErrGeneral;

    NewHandle built;
    try {
        built = AllocateHandle(scan.format.data(), uint32_t(scan.format.size()));
        if (built) built->fileName = fileName;
    } catch (const std::bad_alloc&) {
        return WaveIOErrNoMemory;
    }
    if (!built) return WaveIOErrNoMemory;

    WAVEFORMATEX& format = built->format;
    // PCM rates follow from the sample layout, whatever the header says.
    // Normalised before the data is cut to blocks, so the cut uses the block
    // size the handle keeps. Each sample fills whole bytes: 12 bits take 2,
    // 20 take 3.
    if (IsPcm(format)) {
        format.nBlockAlign = uint16_t((uint32_t(format.wBitsPerSample) + 7) / 8 * format.nChannels);
        format.nAvgBytesPerSec = uint32_t(format.nBlockAlign) * format.nSamplesPerSec;
    }
    uint32_t dataBytes = 0;
    if (scan.haveData && Convertible(format) && scan.dataEnd > int64_t(scan.dataOffset)) {
        const int64_t measured = scan.dataEnd - scan.dataOffset;
        dataBytes = uint32_t(measured - measured % format.nBlockAlign);
    }

    built->flags = flags;
    built->riffChunk = riff;
    built->fileSize = uint32_t(fileSize);
    built->dataBytes = dataBytes;
    built->dataOffset = scan.dataOffset;
    built->totalSamples = WaveBytesToSamples(&format, dataBytes);
    built->rangeStart = 0;
    built->rangeEnd = built->totalSamples;
    built->factOffset = scan.factOffset;
    built->infoList = std::move(scan.info);
    built->displayList = std::move(scan.display);
    handle = built.release();
    return 0;
}

int WaveIOCreateHandle(PWaveIOHandle& handle, const WAVEFORMATEX* format) {
    handle = nullptr;
    if (!format) return WaveIOErrBadParam;
    const uint32_t extra = IsPcm(*format) ? 0 : format->cbSize;
    NewHandle built;
    try {
        built = AllocateHandle(reinterpret_cast<const uint8_t*>(format), kFormatRecordBytes + extra);
        if (!built) return WaveIOErrNoMemory;
        if (IsPcm(built->format)) built->format.cbSize = 0;
        built->flags = WaveIOFlagFile;
        built->infoList = std::make_unique<InfoList>();
        built->displayList = std::make_unique<DisplayList>();
    } catch (const std::bad_alloc&) {
        return WaveIOErrNoMemory;
    }
    handle = built.release();
    return 0;
}

int WaveIOCreateFile(WaveIOHandle* handle, const char* fileName) {
    if (!handle || !fileName) return WaveIOErrBadParam;
    if (handle->file) return WaveIOErrFile;  // still busy with another file
    wc::MmioHandle file(OpenMmio(fileName, MMIO_CREATE | MMIO_READWRITE | MMIO_ALLOCBUF));
    if (!file) return WaveIOErrFile;

    const auto fail = [&](int code) {
        file.reset();
        WaveIODeleteFile(fileName);
        return code;
    };
    MMCKINFO riff{};
    riff.fccType = kWaveFormType;
    if (::mmioCreateChunk(file.get(), &riff, MMIO_CREATERIFF) != 0) return fail(WaveIOErrFile);
    riff.dwFlags |= MMIO_DIRTY;  // marks the file as made here until it is finished

    MMCKINFO fmt{};
    fmt.ckid = kFmt;
    const uint32_t formatBytes = IsPcm(handle->format) ? kPcmFmtChunkBytes : WaveFormatSize(&handle->format);
    if (::mmioCreateChunk(file.get(), &fmt, 0) != 0 || !WriteExactly(file.get(), &handle->format, formatBytes) ||
        ::mmioAscend(file.get(), &fmt, 0) != 0)
        return fail(WaveIOErrFile);

    MMCKINFO data{};
    data.ckid = kData;
    if (::mmioCreateChunk(file.get(), &data, 0) != 0) return fail(WaveIOErrFile);
    data.dwFlags |= MMIO_DIRTY;

    try {
        handle->fileName = fileName;
    } catch (const std::bad_alloc&) {
        return fail(WaveIOErrNoMemory);
    }
    handle->file = std::move(file);
    handle->riffChunk = riff;
    handle->dataChunk = data;
    handle->dataOffset = data.dwDataOffset;
    handle->fileSize = 0;
    handle->dataBytes = 0;
    handle->factOffset = 0;
    handle->totalSamples = WaveBytesToSamples(&handle->format, handle->dataBytes);
    handle->rangeStart = 0;
    handle->rangeEnd = handle->totalSamples;
    handle->bytesLeft = 0;
    handle->position = 0;
    return 0;
}

int WaveIOFree(PWaveIOHandle& handle) {
    if (!handle) return WaveIOErrBadParam;
    DestroyHandle(std::exchange(handle, nullptr));
    return 0;
}

int WaveIOBeginAccess(WaveIOHandle* handle) {
    if (!handle) return WaveIOErrBadParam;
    const bool reopened = !handle->file;
    if (reopened) {
        MMCKINFO riff{};
        if (OpenRiffForm(handle->fileName.c_str(), kWaveFormType, handle->file, riff) != 0) return WaveIOErrFile;
        // Cut as at open, so that no size computed from it passes the file.
        const LONG fileEnd = ::mmioSeek(handle->file.get(), 0, SEEK_END);
        if (fileEnd < 0) {
            handle->file.reset();
            return WaveIOErrFile;
        }
        CutRiffToFile(riff, fileEnd);
        handle->riffChunk = riff;
    }
    if (WaveIOSeek(handle, int32_t(std::min<uint32_t>(handle->position, INT32_MAX))) == 0) return 0;
    // A file opened here is not left open behind a failure.
    if (reopened) handle->file.reset();
    return WaveIOErrFile;
}

int WaveIOEndAccess(WaveIOHandle* handle) {
    if (!handle || !handle->file) return 0;
    int code = 0;
    int64_t riffEnd = 0;
    const bool written = handle->dataChunk.dwFlags & MMIO_DIRTY;
    if (written) code = FinishFile(*handle, riffEnd);
    handle->file.reset();
    handle->pausedBuffer = 0;
    handle->dataChunk.dwFlags &= ~MMIO_DIRTY;
    handle->bytesLeft = 0;
    handle->position = 0;
    if (written && code == 0 && handle->fileSize > riffEnd) {
        if (!TruncateFile(handle->fileName, riffEnd)) return WaveIOErrFile;
        handle->fileSize = uint32_t(riffEnd);
    }
    return code;
}

int WaveIOSetBuffer(WaveIOHandle* handle, int32_t size) {
    if (!handle) return WaveIOErrBadParam;
    if (!handle->file || size < 0) return WaveIOErrGeneral;
    // The system's buffer change forgets where the file stood; put it back.
    HMMIO file = handle->file.get();
    const int64_t at = Tell(file);
    handle->pausedBuffer = 0;
    const int code = int(::mmioSetBuffer(file, nullptr, size, 0));
    if (code == 0 && at >= 0 && !SeekTo(file, at)) return WaveIOErrFile;
    return code;
}

int WaveIOSeek(WaveIOHandle* handle, int32_t sample) {
    if (!handle || sample < 0) return WaveIOErrFile;
    const WAVEFORMATEX* format = &handle->format;
    const uint32_t range = handle->rangeEnd > handle->rangeStart ? handle->rangeEnd - handle->rangeStart : 0;
    // An empty range has no sample to clamp to: it stays at its start.
    const uint32_t clamped = range == 0 ? 0 : std::min<uint32_t>(uint32_t(sample), range - 1);
    const uint32_t absolute = uint32_t(std::min<uint64_t>(uint64_t(clamped) + handle->rangeStart, UINT32_MAX));
    // Never past the data, whatever the rounding of a compressed format gives.
    const uint32_t offset = std::min(WaveSamplesToBytes(format, absolute), handle->dataBytes);

    if (HMMIO file = handle->file.get()) {
        if (handle->dataOffset < kChunkHeaderBytes || !SeekTo(file, int64_t(handle->dataOffset) - kChunkHeaderBytes))
            return WaveIOErrFile;
        // The chunk header is read where it stands, without the RIFF record
        // as parent: the system adds the parent's offset and size in 32 bits,
        // which wraps for a streamed file's placeholder size, and a file
        // being written still has a RIFF size of 0.
        MMCKINFO chunk{};
        if (::mmioDescend(file, &chunk, nullptr, 0) != 0 || chunk.ckid != kData ||
            chunk.dwDataOffset != handle->dataOffset)
            return WaveIOErrFile;
        // Descending reads the record afresh; what was written stays marked.
        chunk.dwFlags |= handle->dataChunk.dwFlags & MMIO_DIRTY;
        handle->dataChunk = chunk;
        if (!SeekTo(file, int64_t(handle->dataOffset) + offset)) return WaveIOErrFile;
        const uint32_t end = std::min(WaveSamplesToBytes(format, handle->rangeEnd), handle->dataBytes);
        handle->bytesLeft = end > offset ? end - offset : 0;
    }
    const uint32_t reached = WaveBytesToSamples(format, offset);
    handle->position = reached > handle->rangeStart ? reached - handle->rangeStart : 0;
    return 0;
}

int WaveIOSeekToEnd(WaveIOHandle* handle) {
    if (!handle || !handle->file) return WaveIOErrFile;
    if (!SeekTo(handle->file.get(), int64_t(handle->dataOffset) + handle->dataBytes)) return WaveIOErrFile;
    handle->bytesLeft = 0;
    const uint32_t reached = WaveBytesToSamples(&handle->format, handle->dataBytes);
    handle->position = reached > handle->rangeStart ? reached - handle->rangeStart : 0;
    return 0;
}

namespace {

// Large reads bypass the file's buffer: a request at least as large as the
// buffer takes what the buffer still holds, then the buffer is switched off
// and the rest comes from the file straight into the caller's memory, one
// copy less. The buffer stays off while large reads follow one another, and
// comes back (at the same file position) before the next small read, a
// write, or a change of its size. A file with written data keeps to the
// buffered path.
bool ResumeBuffer(WaveIOHandle& handle) {
    if (handle.pausedBuffer == 0) return true;
    const int32_t size = std::exchange(handle.pausedBuffer, 0);
    HMMIO file = handle.file.get();
    const int64_t at = Tell(file);  // without a buffer, the system's own position
    return at >= 0 && ::mmioSetBuffer(file, nullptr, size, 0) == 0 && SeekTo(file, at);
}

LONG ReadAtPosition(WaveIOHandle& handle, char* buffer, LONG count) {
    HMMIO file = handle.file.get();
    MMIOINFO info{};
    const bool written = (handle.dataChunk.dwFlags & MMIO_DIRTY) != 0;
    const LONG size = handle.pausedBuffer ? handle.pausedBuffer
                      : ::mmioGetInfo(file, &info, 0) == 0 && info.pchBuffer ? info.cchBuffer
                                                                             : 0;
    if (written || size <= 0 || count < size) {
        if (!ResumeBuffer(handle)) return -1;
        return ::mmioRead(file, buffer, count);
    }
    LONG done = 0;
    if (handle.pausedBuffer == 0) {
        const LONG buffered = LONG(std::max<ptrdiff_t>(info.pchEndRead - info.pchNext, 0));
        const LONG take = std::min(buffered, count);
        if (take > 0) {
            const LONG got = ::mmioRead(file, buffer, take);
            if (got < 0) return -1;
            done = got;
            if (got < take || done == count) return done;
        }
        // Where the reader stands, from the buffer's own bookkeeping (asking
        // the file could load the buffer anew).
        const int64_t at = int64_t(info.lBufOffset) + (info.pchNext - info.pchBuffer) + done;
        if (::mmioSetBuffer(file, nullptr, 0, 0) != 0) return done ? done : -1;
        handle.pausedBuffer = info.cchBuffer;
        if (Tell(file) != at && !SeekTo(file, at)) return done ? done : -1;
    }
    const LONG got = ::mmioRead(file, buffer + done, count - done);
    if (got < 0) return done ? done : -1;
    return done + got;
}

}  // namespace

int32_t WaveIORead(WaveIOHandle* handle, void* buffer, int32_t count) {
    if (!handle || !handle->file || !buffer || count < 0) return -1;
    if (handle->bytesLeft == 0) return -1;
    const uint32_t wanted = std::min<uint32_t>(uint32_t(count), handle->bytesLeft);
    const LONG got = wanted ? ReadAtPosition(*handle, static_cast<char*>(buffer), LONG(wanted)) : 0;
    if (got < 0) return -1;
    if (got < count) handle->bytesLeft = 0;
    if (got > 0) {
        handle->bytesLeft -= std::min<uint32_t>(handle->bytesLeft, uint32_t(got));
        const uint32_t range = handle->rangeEnd > handle->rangeStart ? handle->rangeEnd - handle->rangeStart : 0;
        const uint32_t left = WaveBytesToSamples(&handle->format, handle->bytesLeft);
        handle->position = range > left ? range - left : 0;
    }
    return got;
}

int32_t WaveIOWrite(WaveIOHandle* handle, const void* buffer, int32_t count) {
    if (!handle || !handle->file || !buffer || count <= 0) return -1;
    if (!ResumeBuffer(*handle)) return -1;
    HMMIO file = handle->file.get();
    const LONG written = ::mmioWrite(file, static_cast<const char*>(buffer), count);
    if (written < 0) return -1;
    if (written == 0) return 0;
    handle->dataChunk.dwFlags |= MMIO_DIRTY;
    const int64_t at = Tell(file);
    if (at < int64_t(handle->dataOffset)) return -1;
    const uint32_t offset = uint32_t(at - handle->dataOffset);
    handle->position = WaveBytesToSamples(&handle->format, offset);
    handle->dataBytes = std::max(handle->dataBytes, offset);
    if (handle->position > handle->totalSamples) {
        handle->totalSamples = handle->position;
        handle->rangeEnd = handle->position;
    }
    handle->bytesLeft = handle->rangeEnd > handle->position
                            ? WaveSamplesToBytes(&handle->format, handle->rangeEnd - handle->position)
                            : 0;
    return written;
}

bool IsWaveFile(const char* fileName, uint32_t flags) {
    PWaveIOHandle handle = nullptr;
    if (WaveIOOpen(handle, fileName, kWaveFormType, flags) != 0) return false;
    WaveIOFree(handle);
    return true;
}

bool WaveIOFileExists(const char* fileName) { return fileName && OpenMmio(fileName, MMIO_EXIST) != nullptr; }
bool WaveIOParseName(const char* fileName) { return fileName && OpenMmio(fileName, MMIO_PARSE) != nullptr; }
bool WaveIODeleteFile(const char* fileName) { return fileName && OpenMmio(fileName, MMIO_DELETE) != nullptr; }
