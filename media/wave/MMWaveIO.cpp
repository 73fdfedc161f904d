// RIFF WAVE handles: open (chunk scan), create, access, seek, read, write,
// finish, and the INFO and DISP lists they carry.
#include "media/wave/MMWaveIO.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <utility>

#include "framework/Strings.h"

namespace {

constexpr FOURCC kRf64 = mmioFOURCC('R', 'F', '6', '4');
constexpr FOURCC kBw64 = mmioFOURCC('B', 'W', '6', '4');
constexpr FOURCC kRifx = mmioFOURCC('R', 'I', 'F', 'X');  // RIFF with big-endian fields and samples
constexpr FOURCC kDs64 = mmioFOURCC('d', 's', '6', '4');
constexpr FOURCC kFmt = mmioFOURCC('f', 'm', 't', ' ');
constexpr FOURCC kData = mmioFOURCC('d', 'a', 't', 'a');
constexpr FOURCC kFact = mmioFOURCC('f', 'a', 'c', 't');
constexpr FOURCC kInfo = mmioFOURCC('I', 'N', 'F', 'O');
constexpr FOURCC kDisp = mmioFOURCC('D', 'I', 'S', 'P');

constexpr uint32_t kChunkHeaderBytes = 8;   // id and size
constexpr uint32_t kListTypeBytes = 4;      // the list or form type behind a LIST/RIFF header
constexpr uint32_t kFormHeaderBytes = kChunkHeaderBytes + kListTypeBytes;
constexpr uint32_t kPcmFmtChunkBytes = 16;  // PCM is stored without cbSize
constexpr uint32_t kFormatRecordBytes = sizeof(WAVEFORMATEX);
// A size field of an RF64 or BW64 file that stands for the size in "ds64".
constexpr uint32_t kSizeInDs64 = 0xFFFFFFFF;
// "ds64": RIFF size, data size and sample count (8 bytes each), then the
// length of the table of further chunk sizes (4 bytes).
constexpr uint32_t kDs64FixedBytes = 28;
constexpr uint32_t kDs64EntryBytes = 12;  // chunk id, then its 64-bit size

// ---- little-endian fields ----

void PutU32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = uint8_t(value >> (8 * i));
}
uint32_t GetU32(const uint8_t* in) {
    return uint32_t(in[0]) | uint32_t(in[1]) << 8 | uint32_t(in[2]) << 16 | uint32_t(in[3]) << 24;
}
uint64_t GetU64(const uint8_t* in) { return uint64_t(GetU32(in)) | uint64_t(GetU32(in + 4)) << 32; }
uint32_t GetU32Big(const uint8_t* in) {
    return uint32_t(in[0]) << 24 | uint32_t(in[1]) << 16 | uint32_t(in[2]) << 8 | uint32_t(in[3]);
}
// A size field of a RIFF form, or of a RIFX form (big-endian).
uint32_t GetSize(const uint8_t* in, bool bigEndian) { return bigEndian ? GetU32Big(in) : GetU32(in); }

void Reverse(uint8_t* field, size_t bytes) { std::reverse(field, field + bytes); }

// Turns a RIFX format record, with its WAVE_FORMAT_EXTENSIBLE extension
// where there is one, into the little-endian record; `bytes` of it were read.
void FormatFromBigEndian(std::vector<uint8_t>& format, size_t bytes) {
    // The record's fields: tag, channels, rate, byte rate, block, bits, cbSize.
    static constexpr uint8_t kRecordFields[][2] = {{0, 2}, {2, 2}, {4, 4}, {8, 4}, {12, 2}, {14, 2}, {16, 2}};
    // The extension: valid bits, channel mask, then the sub-format GUID's
    // three numeric fields (its last eight bytes are a byte string).
    static constexpr uint8_t kExtensibleFields[][2] = {{18, 2}, {20, 4}, {24, 4}, {28, 2}, {30, 2}};
    for (const auto& [at, width] : kRecordFields)
        if (at + width <= bytes) Reverse(&format[at], width);
    if ((format[0] | format[1] << 8) != WAVE_FORMAT_EXTENSIBLE) return;
    for (const auto& [at, width] : kExtensibleFields)
        if (at + width <= bytes) Reverse(&format[at], width);
}

bool ReadAt(BufferedFile& file, int64_t offset, void* buffer, int64_t count) {
    return file.Seek(offset) && file.Read(buffer, count) == count;
}

bool WriteU32At(BufferedFile& file, int64_t offset, uint32_t value) {
    uint8_t bytes[4];
    PutU32(bytes, value);
    return file.Seek(offset) && file.Write(bytes, 4);
}

// Sizes a writer leaves in a header it meant to fill in later: 0 until a
// recording is finished, and the placeholders from 0xFFFFFFF8 up that
// streaming writers put where they cannot go back.
constexpr uint32_t kFirstPlaceholderSize = 0xFFFFFFF8;
bool IsPlaceholderSize(uint32_t size) { return size == 0 || size >= kFirstPlaceholderSize; }

// The sizes of an RF64 or BW64 file's "ds64" chunk.
struct Ds64 {
    bool present = false;
    uint64_t riffSize = 0;
    uint64_t dataSize = 0;
    std::vector<std::pair<FOURCC, uint64_t>> table;

    // The real size of a chunk whose size field says `field`; 0 when the
    // chunk's size is not known.
    uint64_t SizeOf(FOURCC id, uint32_t field) const {
        if (!present || field != kSizeInDs64) return field;
        if (id == kData) return dataSize;
        for (const auto& [tableId, size] : table)
            if (tableId == id) return size;
        return 0;
    }
};

// Opening steps shared by WaveIOOpen and WaveIOBeginAccess: read/write
// unless the file is read-only (falling back to read-only), and the first
// chunk must be a RIFF form (or its 64-bit kin RF64 and BW64, with their
// "ds64" chunk first) of the requested type.
int OpenRiffForm(const std::string& name, FOURCC formType, BufferedFile& file, WaveChunk& riff, Ds64& ds64) {
    const DWORD attributes = ::GetFileAttributesW(wc::PathToWide(name).c_str());
    const bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    if (readOnly || !file.Open(name, BufferedFile::Access::ReadWrite)) {
        if (!file.Open(name, BufferedFile::Access::Read)) return WaveIOErrFile;
    }
    uint8_t header[kFormHeaderBytes];
    riff = {};
    ds64 = {};
    const auto fail = [&] {
        file.reset();
        return WaveIOErrFile;
    };
    if (!ReadAt(file, 0, header, sizeof header)) return fail();
    riff.id = GetU32(header);
    riff.size = GetSize(header + 4, riff.id == kRifx);
    riff.type = GetU32(header + 8);
    riff.dataOffset = kChunkHeaderBytes;
    if ((riff.id != FOURCC_RIFF && riff.id != kRifx && riff.id != kRf64 && riff.id != kBw64) ||
        riff.type != formType)
        return fail();
    if (riff.id == FOURCC_RIFF || riff.id == kRifx) return 0;

    uint8_t fixed[kChunkHeaderBytes + kDs64FixedBytes];
    if (!ReadAt(file, kFormHeaderBytes, fixed, sizeof fixed) || GetU32(fixed) != kDs64 ||
        GetU32(fixed + 4) < kDs64FixedBytes)
        return fail();
    ds64.present = true;
    ds64.riffSize = GetU64(fixed + 8);
    ds64.dataSize = GetU64(fixed + 16);
    const uint64_t entries = GetU32(fixed + 32);
    // The table cannot hold more entries than its chunk has room for.
    if (entries > (GetU32(fixed + 4) - kDs64FixedBytes) / kDs64EntryBytes) return fail();
    try {
        for (uint64_t i = 0; i < entries; ++i) {
            uint8_t entry[kDs64EntryBytes];
            if (!ReadAt(file, kFormHeaderBytes + sizeof fixed + i * kDs64EntryBytes, entry, sizeof entry)) return fail();
            ds64.table.emplace_back(GetU32(entry), GetU64(entry + 4));
        }
    } catch (const std::bad_alloc&) {
        return fail();
    }
    if (riff.size == kSizeInDs64) riff.size = std::min<uint64_t>(ds64.riffSize, uint64_t(1) << 62);
    return 0;
}

// The RIFF size as far as the file holds it. A size too small to hold even
// the form type and one chunk header (0 is what a recording leaves until it
// is finished) and a streaming writer's placeholder are no sizes: the form
// then runs to the end of the file.
void CutRiffToFile(WaveChunk& riff, int64_t fileSize) {
    const uint64_t held = uint64_t(std::max<int64_t>(0, fileSize - int64_t(riff.dataOffset)));
    const bool placeholder = riff.size <= UINT32_MAX && IsPlaceholderSize(uint32_t(riff.size));
    if (riff.size < kListTypeBytes + kChunkHeaderBytes || placeholder || riff.size > held) riff.size = held;
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

// The block-based ADPCM formats whose last block a writer may cut short:
// such a block still decodes to the frames its bytes hold, as long as it
// holds its header (Microsoft ADPCM: predictor, delta and two samples of 7
// bytes per channel; IMA ADPCM: a sample and a step index, 4 bytes per
// channel). 0 for any other format, whose data is cut to whole blocks.
constexpr uint16_t kTagMsAdpcm = 0x0002;
constexpr uint16_t kTagImaAdpcm = 0x0011;
uint32_t ShortBlockHeaderBytes(const WAVEFORMATEX& format) {
    if (format.wFormatTag == kTagMsAdpcm) return 7u * format.nChannels;
    if (format.wFormatTag == kTagImaAdpcm) return 4u * format.nChannels;
    return 0;
}

// ---- INFO and DISP chunks while scanning ----

int ReadInfoChunk(BufferedFile& file, const WaveChunk& chunk, InfoList& list) {
    if (chunk.size <= kListTypeBytes) return 0;
    try {
        std::vector<char> body(size_t(chunk.size - kListTypeBytes));
        if (!ReadAt(file, int64_t(chunk.dataOffset + kListTypeBytes), body.data(), int64_t(body.size())))
            return RiffErrIO;
        list.TakeBody(std::move(body));
    } catch (const std::bad_alloc&) {
        return RiffErrNoMemory;
    } catch (const std::length_error&) {
        return RiffErrNoMemory;
    }
    return 0;
}

int ReadDisplayChunk(BufferedFile& file, const WaveChunk& chunk, DisplayList& list) {
    if (chunk.size <= 4) return 0;
    try {
        std::vector<uint8_t> body(size_t(chunk.size));
        if (!ReadAt(file, int64_t(chunk.dataOffset), body.data(), int64_t(body.size()))) return RiffErrIO;
        list.AddChunkBody(body.data(), body.size());
    } catch (const std::bad_alloc&) {
        return RiffErrNoMemory;
    } catch (const std::length_error&) {
        return RiffErrNoMemory;
    }
    return 0;
}

// What the chunk scan learned about a file.
struct Scan {
    std::vector<uint8_t> format;
    bool haveFormat = false;
    bool haveData = false;
    uint64_t dataDeclared = 0;  // the data chunk's size as the file states it
    uint64_t dataOffset = 0;
    int64_t dataEnd = 0;
    bool haveFact = false;
    uint64_t factOffset = 0;
    bool laterData = false;
    std::unique_ptr<InfoList> info;
    std::unique_ptr<DisplayList> display;
};

// Walks the chunks inside the RIFF form; 0 or the code that ends the open.
int ScanChunks(BufferedFile& file, const WaveChunk& riff, const Ds64& ds64, int64_t fileSize, Scan& scan) {
    const int64_t riffEnd = int64_t(riff.dataOffset + riff.size);
    const bool bigEndian = riff.id == kRifx;
    scan.dataEnd = fileSize;
    bool dataEndPending = false;
    int64_t here = kFormHeaderBytes;
    for (;;) {
        // A header that would reach past the form ends the scan.
        uint8_t header[kChunkHeaderBytes];
        if (here + kChunkHeaderBytes > riffEnd || !ReadAt(file, here, header, sizeof header)) break;
        WaveChunk chunk;
        chunk.id = GetU32(header);
        const uint32_t field = GetSize(header + 4, bigEndian);
        // No file holds 2^62 bytes: a larger size is one the file cannot
        // hold, cut below like any other (and no sum with it overflows).
        chunk.size = std::min<uint64_t>(ds64.SizeOf(chunk.id, field), uint64_t(1) << 62);
        chunk.dataOffset = uint64_t(here) + kChunkHeaderBytes;
        if (chunk.id == FOURCC_LIST) {
            uint8_t type[kListTypeBytes];
            if (chunk.size >= kListTypeBytes && ReadAt(file, int64_t(chunk.dataOffset), type, sizeof type))
                chunk.type = GetU32(type);
        }
        // A size the file states, as opposed to one that stands in for an
        // unknown size.
        const bool sized = ds64.present && field == kSizeInDs64 ? chunk.size != 0 : !IsPlaceholderSize(field);

        const int64_t chunkEnd = int64_t(chunk.dataOffset + chunk.size);
        bool cutByFileEnd = false;
        if (chunkEnd > riffEnd) {
            if (scan.haveFormat && scan.haveData) break;
            if (chunkEnd > fileSize) {
                chunk.size = uint64_t(std::max<int64_t>(0, fileSize - int64_t(chunk.dataOffset)));
                cutByFileEnd = true;
            }
        }
        if (dataEndPending) {
            // Behind a data chunk that claims no bytes (an interrupted
            // recording) come its samples, not a chunk: silence would read
            // as an empty chunk of id 0. They run on to the end of the form.
            if (scan.dataDeclared == 0 && !PlausibleChunkId(chunk.id)) break;
            scan.dataEnd = int64_t(chunk.dataOffset) - kChunkHeaderBytes;
            dataEndPending = false;
        }

        int code = 0;
        // The texts and pictures of a RIFX file keep their big-endian sizes:
        // they are not read.
        if (chunk.id == FOURCC_LIST && chunk.type == kInfo && !bigEndian) {
            if (!scan.info->HasBody()) code = ReadInfoChunk(file, chunk, *scan.info);
        } else if (chunk.id == kDisp && !bigEndian) {
            code = ReadDisplayChunk(file, chunk, *scan.display);
        } else if (chunk.id == kFmt) {
            if (scan.haveFormat) break;
            // A format the file ends inside of is no format: its missing
            // fields would read as zeros. Nor is one larger than a format
            // record can say (a cbSize of 16 bits).
            if (cutByFileEnd || chunk.size > kFormatRecordBytes + 0xFFFF) return WaveIOErrFile;
            try {
                scan.format.assign(std::max<size_t>(size_t(chunk.size), kFormatRecordBytes), 0);
            } catch (const std::bad_alloc&) {
                return WaveIOErrNoMemory;
            }
            if (!ReadAt(file, int64_t(chunk.dataOffset), scan.format.data(), int64_t(chunk.size))) return WaveIOErrFile;
            if (bigEndian) FormatFromBigEndian(scan.format, size_t(chunk.size));
            // A cbSize that claims more than the chunk holds is cut to it.
            auto* record = reinterpret_cast<WAVEFORMATEX*>(scan.format.data());
            const uint64_t extraHeld = chunk.size > kFormatRecordBytes ? chunk.size - kFormatRecordBytes : 0;
            if (record->cbSize > extraHeld) record->cbSize = uint16_t(extraHeld);
            scan.haveFormat = true;
        } else if (chunk.id == kData) {
            if (scan.haveData && scan.dataDeclared != 0) {
                scan.laterData = true;
                break;
            }
            scan.haveData = true;
            scan.dataDeclared = sized ? chunk.size : 0;
            scan.dataOffset = chunk.dataOffset;
            // A real size that the file holds is the data: its pad byte,
            // chunks behind it and tags appended to the file are no samples.
            // Only a placeholder or a size past the file's end is measured,
            // to the next chunk or to the end of the file.
            if (sized && chunkEnd <= fileSize)
                scan.dataEnd = chunkEnd;
            else
                dataEndPending = true;
        } else if (chunk.id == kFact) {
            if (scan.haveFact) break;
            scan.haveFact = true;
            uint8_t count[4];
            // Only a count before the data can be rewritten in place later.
            if (chunk.size >= 4 && ReadAt(file, int64_t(chunk.dataOffset), count, 4) && !scan.haveData && !bigEndian)
                scan.factOffset = chunk.dataOffset;
        }
        if (code != 0) return code;
        here = int64_t(chunk.dataOffset + chunk.size + (chunk.size & 1));
    }
    return 0;
}

// ---- finishing a written file ----

// One chunk of the given parts at the current position, with its pad byte.
bool WriteChunk(BufferedFile& file, FOURCC id, const std::vector<std::pair<const void*, uint32_t>>& parts) {
    uint32_t size = 0;
    for (const auto& part : parts) size += part.second;
    uint8_t header[kChunkHeaderBytes];
    PutU32(header, id);
    PutU32(header + 4, size);
    if (!file.Write(header, sizeof header)) return false;
    for (const auto& [bytes, count] : parts)
        if (!file.Write(bytes, count)) return false;
    const uint8_t pad = 0;
    return !(size & 1) || file.Write(&pad, 1);
}

int WriteDisplayChunks(BufferedFile& file, const DisplayList& list) {
    for (const DisplayEntry& entry : list.Entries()) {
        const std::vector<uint8_t>& data = entry.Current();
        if (data.empty() || (entry.type != kDisplayText && entry.type != kDisplayBitmap)) continue;
        uint8_t type[4];
        PutU32(type, entry.type);
        bool written;
        if (entry.type == kDisplayText) {
            const auto* text = reinterpret_cast<const char*>(data.data());
            const uint32_t length = uint32_t(std::find(data.begin(), data.end(), 0) - data.begin());
            if (length == 0) continue;
            const char zero = 0;
            written = WriteChunk(file, kDisp, {{type, 4}, {text, length}, {&zero, 1}});
        } else {
            written = WriteChunk(file, kDisp, {{type, 4}, {data.data(), uint32_t(data.size())}});
        }
        if (!written) return WaveIOErrFile;
    }
    return 0;
}

int WriteInfoList(BufferedFile& file, const InfoList& list) {
    if (!list.HasTexts()) return 0;
    const int64_t start = file.Tell();
    uint8_t header[kFormHeaderBytes];
    PutU32(header, FOURCC_LIST);
    PutU32(header + 4, 0);
    PutU32(header + 8, kInfo);
    if (!file.Write(header, sizeof header)) return WaveIOErrFile;
    for (size_t i = 0; i < InfoIdTable.size(); ++i) {
        const std::string_view text = list.Text(i);
        if (text.empty()) continue;
        const char zero = 0;
        if (!WriteChunk(file, InfoIdTable[i].id, {{text.data(), uint32_t(text.size())}, {&zero, 1}}))
            return WaveIOErrFile;
    }
    const int64_t end = file.Tell();
    if (!WriteU32At(file, start + 4, uint32_t(end - start - kChunkHeaderBytes)) || !file.Seek(end)) return WaveIOErrFile;
    return 0;
}

// A size field for `size` bytes: past 32 bits the placeholder a reader
// measures (no chunk follows such data).
uint32_t SizeField(uint64_t size) { return size < kFirstPlaceholderSize ? uint32_t(size) : kSizeInDs64; }

// Rewrites sizes, writes the trailing chunks and cuts what an earlier,
// longer version of the file left behind the form (it would otherwise read
// as samples the next time); the file stays open.
int FinishFile(WaveIOHandle& handle) {
    BufferedFile& file = handle.file;
    const bool created = handle.riffChunk.dirty;
    const uint64_t dataEnd = handle.dataOffset + handle.dataBytes;
    if (handle.dataOffset < kChunkHeaderBytes || !WriteU32At(file, int64_t(handle.dataOffset) - 4, SizeField(handle.dataBytes)))
        return WaveIOErrFile;
    handle.dataChunk.size = handle.dataBytes;
    if (!file.Seek(int64_t(dataEnd))) return WaveIOErrFile;
    const uint8_t pad = 0;
    if ((handle.dataBytes & 1) && !file.Write(&pad, 1)) return WaveIOErrFile;

    // Data whose size needs the placeholder ends the form: a reader measures
    // it to the end of the file.
    if (SizeField(handle.dataBytes) != kSizeInDs64) {
        if (!IsPcm(handle.format)) {
            const uint32_t samples = uint32_t(std::min<uint64_t>(handle.totalSamples, UINT32_MAX));
            if (!created && handle.factOffset != 0) {
                // An existing count before the data is kept current in place: a
                // second "fact" behind the data would end the next open's scan.
                const int64_t back = file.Tell();
                if (!WriteU32At(file, int64_t(handle.factOffset), samples) || !file.Seek(back)) return WaveIOErrFile;
            } else {
                uint8_t count[4];
                PutU32(count, samples);
                if (!WriteChunk(file, kFact, {{count, 4}})) return WaveIOErrFile;
            }
        }
        if (handle.displayList) {
            if (const int code = WriteDisplayChunks(file, *handle.displayList)) return code;
        }
        if (handle.infoList) {
            if (const int code = WriteInfoList(file, *handle.infoList)) return code;
        }
    }
    const int64_t riffEnd = file.Tell();
    if (riffEnd < 0 || !WriteU32At(file, 4, SizeField(uint64_t(riffEnd) - kChunkHeaderBytes))) return WaveIOErrFile;
    handle.riffChunk.size = uint64_t(riffEnd) - kChunkHeaderBytes;
    handle.riffChunk.dirty = false;
    const int64_t end = file.Size();
    if (end < 0) return WaveIOErrFile;
    if (end > riffEnd && !file.Truncate(riffEnd)) return WaveIOErrFile;
    handle.fileSize = uint64_t(riffEnd);
    handle.rangeEnd = handle.totalSamples;
    return file.Flush() ? 0 : WaveIOErrFile;
}

}  // namespace

// ---- handle operations ----

int WaveIOOpen(PWaveIOHandle& handle, const char* fileName, FOURCC formType, uint32_t flags) {
    handle = nullptr;
    if (!fileName) return WaveIOErrBadParam;
    BufferedFile file;
    WaveChunk riff;
    Ds64 ds64;
    if (OpenRiffForm(fileName, formType, file, riff, ds64) != 0) return WaveIOErrFile;
    const int64_t fileSize = file.Size();
    if (fileSize < 0) return WaveIOErrFile;
    CutRiffToFile(riff, fileSize);

    Scan scan;
    try {
        scan.info = std::make_unique<InfoList>();
        scan.display = std::make_unique<DisplayList>();
    } catch (const std::bad_alloc&) {
        return RiffErrNoMemory;
    }
    if (const int code = ScanChunks(file, riff, ds64, fileSize, scan)) return code;
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
    uint64_t dataBytes = 0;
    if (scan.haveData && Convertible(format) && scan.dataEnd > int64_t(scan.dataOffset)) {
        const uint64_t measured = uint64_t(scan.dataEnd) - scan.dataOffset;
        const uint64_t rest = measured % format.nBlockAlign;
        const uint32_t header = ShortBlockHeaderBytes(format);
        dataBytes = header != 0 && rest >= header ? measured : measured - rest;
    }

    built->flags = flags;
    built->riffChunk = riff;
    built->fileSize = uint64_t(fileSize);
    built->dataBytes = dataBytes;
    built->dataOffset = scan.dataOffset;
    built->totalSamples = uint64_t(WaveBytesToSamples64(&format, int64_t(dataBytes)));
    built->rangeStart = 0;
    built->rangeEnd = built->totalSamples;
    built->factOffset = scan.factOffset;
    built->laterData = scan.laterData;
    built->bigEndian = riff.id == kRifx;
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
    BufferedFile file;
    if (!file.Open(fileName, BufferedFile::Access::Create)) return WaveIOErrFile;

    const auto fail = [&](int code) {
        file.reset();
        WaveIODeleteFile(fileName);
        return code;
    };
    uint8_t form[kFormHeaderBytes];
    PutU32(form, FOURCC_RIFF);
    PutU32(form + 4, 0);
    PutU32(form + 8, kWaveFormType);
    const uint32_t formatBytes = IsPcm(handle->format) ? kPcmFmtChunkBytes : WaveFormatSize(&handle->format);
    uint8_t dataHeader[kChunkHeaderBytes];
    PutU32(dataHeader, kData);
    PutU32(dataHeader + 4, 0);
    if (!file.Write(form, sizeof form) || !WriteChunk(file, kFmt, {{&handle->format, formatBytes}}) ||
        !file.Write(dataHeader, sizeof dataHeader))
        return fail(WaveIOErrFile);

    WaveChunk riff;
    riff.id = FOURCC_RIFF;
    riff.type = kWaveFormType;
    riff.dataOffset = kChunkHeaderBytes;
    riff.dirty = true;  // marks the file as made here until it is finished
    WaveChunk data;
    data.id = kData;
    data.dataOffset = uint64_t(file.Tell());
    data.dirty = true;

    try {
        handle->fileName = fileName;
    } catch (const std::bad_alloc&) {
        return fail(WaveIOErrNoMemory);
    }
    handle->file = std::move(file);
    handle->riffChunk = riff;
    handle->dataChunk = data;
    handle->dataOffset = data.dataOffset;
    handle->fileSize = 0;
    handle->dataBytes = 0;
    handle->factOffset = 0;
    handle->totalSamples = 0;
    handle->rangeStart = 0;
    handle->rangeEnd = 0;
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
        WaveChunk riff;
        Ds64 ds64;
        if (OpenRiffForm(handle->fileName, kWaveFormType, handle->file, riff, ds64) != 0) return WaveIOErrFile;
        // Cut as at open, so that no size computed from it passes the file.
        const int64_t fileEnd = handle->file.Size();
        if (fileEnd < 0) {
            handle->file.reset();
            return WaveIOErrFile;
        }
        CutRiffToFile(riff, fileEnd);
        handle->riffChunk = riff;
    }
    if (WaveIOSeek(handle, int64_t(std::min<uint64_t>(handle->position, INT64_MAX))) == 0) return 0;
    // A file opened here is not left open behind a failure.
    if (reopened) handle->file.reset();
    return WaveIOErrFile;
}

int WaveIOEndAccess(WaveIOHandle* handle) {
    if (!handle || !handle->file) return 0;
    const int code = handle->dataChunk.dirty ? FinishFile(*handle) : 0;
    handle->file.reset();
    handle->dataChunk.dirty = false;
    handle->bytesLeft = 0;
    handle->position = 0;
    return code;
}

int WaveIOSetBuffer(WaveIOHandle* handle, int32_t size) {
    if (!handle) return WaveIOErrBadParam;
    if (!handle->file || size < 0) return WaveIOErrGeneral;
    return handle->file.SetBufferSize(size) ? 0 : WaveIOErrFile;
}

int WaveIOSeek(WaveIOHandle* handle, int64_t sample) {
    if (!handle || sample < 0) return WaveIOErrFile;
    const WAVEFORMATEX* format = &handle->format;
    const uint64_t range = handle->rangeEnd > handle->rangeStart ? handle->rangeEnd - handle->rangeStart : 0;
    // An empty range has no sample to clamp to: it stays at its start.
    const uint64_t clamped = range == 0 ? 0 : std::min<uint64_t>(uint64_t(sample), range - 1);
    const uint64_t absolute = std::min<uint64_t>(clamped + handle->rangeStart, INT64_MAX);
    // Never past the data, whatever the rounding of a compressed format gives.
    const uint64_t offset =
        std::min<uint64_t>(uint64_t(WaveSamplesToBytes64(format, int64_t(absolute))), handle->dataBytes);

    if (BufferedFile& file = handle->file) {
        // The data chunk's header must still stand where it was found.
        uint8_t header[kChunkHeaderBytes];
        if (handle->dataOffset < kChunkHeaderBytes ||
            !ReadAt(file, int64_t(handle->dataOffset) - kChunkHeaderBytes, header, sizeof header) ||
            GetU32(header) != kData)
            return WaveIOErrFile;
        handle->dataChunk.id = kData;
        handle->dataChunk.dataOffset = handle->dataOffset;
        if (!handle->dataChunk.dirty) handle->dataChunk.size = GetSize(header + 4, handle->bigEndian);
        if (!file.Seek(int64_t(handle->dataOffset + offset))) return WaveIOErrFile;
        const uint64_t end = std::min<uint64_t>(
            uint64_t(WaveSamplesToBytes64(format, int64_t(std::min<uint64_t>(handle->rangeEnd, INT64_MAX)))),
            handle->dataBytes);
        handle->bytesLeft = end > offset ? end - offset : 0;
    }
    const uint64_t reached = uint64_t(WaveBytesToSamples64(format, int64_t(offset)));
    handle->position = reached > handle->rangeStart ? reached - handle->rangeStart : 0;
    return 0;
}

int WaveIOSeekToEnd(WaveIOHandle* handle) {
    if (!handle || !handle->file) return WaveIOErrFile;
    if (!handle->file.Seek(int64_t(handle->dataOffset + handle->dataBytes))) return WaveIOErrFile;
    handle->bytesLeft = 0;
    const uint64_t reached = uint64_t(WaveBytesToSamples64(&handle->format, int64_t(handle->dataBytes)));
    handle->position = reached > handle->rangeStart ? reached - handle->rangeStart : 0;
    return 0;
}

int32_t WaveIORead(WaveIOHandle* handle, void* buffer, int32_t count) {
    if (!handle || !handle->file || !buffer || count < 0) return -1;
    if (handle->bytesLeft == 0) return -1;
    uint64_t wanted = std::min<uint64_t>(uint64_t(count), handle->bytesLeft);
    // Big-endian samples are turned around whole: reads take whole ones.
    const uint32_t container = handle->bigEndian ? WaveSampleContainer(handle->format) : 0;
    if (container > 1 && wanted >= container) wanted -= wanted % container;
    const int64_t got = wanted ? handle->file.Read(buffer, int64_t(wanted)) : 0;
    if (got < 0) return -1;
    if (container > 1) WaveSwapSampleBytes(buffer, size_t(got), container);
    if (got < int64_t(wanted)) handle->bytesLeft = 0;
    if (got > 0) {
        handle->bytesLeft -= std::min<uint64_t>(handle->bytesLeft, uint64_t(got));
        const uint64_t range = handle->rangeEnd > handle->rangeStart ? handle->rangeEnd - handle->rangeStart : 0;
        const uint64_t left = uint64_t(WaveBytesToSamples64(&handle->format, int64_t(handle->bytesLeft)));
        handle->position = range > left ? range - left : 0;
    }
    return int32_t(got);
}

int32_t WaveIOWrite(WaveIOHandle* handle, const void* buffer, int32_t count) {
    // A RIFX file is only read: its sizes would be rewritten little-endian.
    if (!handle || !handle->file || !buffer || count <= 0 || handle->bigEndian) return -1;
    BufferedFile& file = handle->file;
    if (!file.Write(buffer, count)) return -1;
    handle->dataChunk.dirty = true;
    const int64_t at = file.Tell();
    if (at < int64_t(handle->dataOffset)) return -1;
    const uint64_t offset = uint64_t(at) - handle->dataOffset;
    handle->position = uint64_t(WaveBytesToSamples64(&handle->format, int64_t(offset)));
    handle->dataBytes = std::max(handle->dataBytes, offset);
    if (handle->position > handle->totalSamples) {
        handle->totalSamples = handle->position;
        handle->rangeEnd = handle->position;
    }
    handle->bytesLeft = handle->rangeEnd > handle->position
                            ? uint64_t(WaveSamplesToBytes64(&handle->format, int64_t(handle->rangeEnd - handle->position)))
                            : 0;
    return count;
}

uint32_t WaveSampleContainer(const WAVEFORMATEX& format) {
    const bool pcm = format.wFormatTag == WAVE_FORMAT_PCM || format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT ||
                     format.wFormatTag == WAVE_FORMAT_EXTENSIBLE;
    if (!pcm || format.nChannels == 0 || format.nBlockAlign % format.nChannels != 0) return 0;
    return format.nBlockAlign / format.nChannels;
}

void WaveSwapSampleBytes(void* data, size_t size, uint32_t container) {
    if (container < 2) return;
    auto* bytes = static_cast<uint8_t*>(data);
    for (size_t at = 0; at + container <= size; at += container) Reverse(bytes + at, container);
}

bool IsWaveFile(const char* fileName, uint32_t flags) {
    PWaveIOHandle handle = nullptr;
    if (WaveIOOpen(handle, fileName, kWaveFormType, flags) != 0) return false;
    WaveIOFree(handle);
    return true;
}

bool WaveIOFileExists(const char* fileName) {
    if (!fileName || !*fileName) return false;
    const DWORD attributes = ::GetFileAttributesW(wc::PathToWide(fileName).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool WaveIOParseName(const char* fileName) {
    if (!fileName || !*fileName) return false;
    const std::wstring name = wc::PathToWide(fileName);
    // A name the system can make a full path of, with a file part.
    wchar_t* filePart = nullptr;
    wchar_t full[MAX_PATH * 4];
    const DWORD length = ::GetFullPathNameW(name.c_str(), DWORD(std::size(full)), full, &filePart);
    return length > 0 && length < std::size(full) && filePart && *filePart &&
           name.find_first_of(L"*?\"<>|") == std::wstring::npos;
}

bool WaveIODeleteFile(const char* fileName) {
    return fileName && *fileName && ::DeleteFileW(wc::PathToWide(fileName).c_str());
}
