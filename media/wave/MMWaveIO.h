// RIFF WAVE file access: parsing, reading, writing and finishing wave files,
// and the texts that name and describe a wave format.
//
// How it works. A file is handled in two steps. WaveIOOpen parses the whole
// chunk structure into a new WaveIOHandle and closes the file again, so a
// handle that is merely open holds no system file. WaveIOBeginAccess reopens
// the file for reading (or a new file is made by WaveIOCreateFile for
// writing); WaveIOEndAccess finishes a written file and closes it. Files are
// read and written through BufferedFile, with 64-bit offsets: sizes and
// positions here are 64-bit wherever a wave can pass 2 GiB.
//
// Besides RIFF forms, the 64-bit forms RF64 and BW64 are read: their "ds64"
// chunk gives the sizes (RIFF, data and any other chunk) that their 32-bit
// size fields stand in for with 0xFFFFFFFF. So are RIFX forms, whose sizes,
// format fields and samples are big-endian: the handle holds the format
// little-endian and WaveIORead hands out little-endian samples, so that
// nothing above sees the difference (their INFO and DISP chunks are not
// read, and they cannot be written).
//
// The size of the sample data is the data chunk's own size whenever the file
// holds that many bytes: a pad byte, the chunks behind the data and tags
// appended to the file are never samples. A size that cannot be right (0
// after an interrupted recording, a streaming writer's placeholder from
// 0xFFFFFFF8 up, a size past the end of the file) is measured instead, to the
// start of the next chunk or to the end of the file. Other sizes that run
// past the file are cut to what the file holds.
//
// All functions return a result code (0 = success, the WaveIOErr* and RiffErr*
// values below, or a code of the system's file I/O passed on) or a byte count
// with -1 for failure; none of them throws or shows anything.
//
// The format record helpers (sizes, copies, unit conversions, names and
// descriptions) stand in MMWaveFormats.h, which this header includes.
//
// Formats nobody can convert with (nChannels, nSamplesPerSec, nAvgBytesPerSec
// or nBlockAlign 0, after PCM normalisation) open fine but hold no samples:
// dataBytes and totalSamples are 0, and the conversions give 0.
#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "media/wave/MMBufferedFile.h"
#include "media/wave/MMRiffLists.h"
#include "media/wave/MMWaveFormats.h"

// ---- result codes ----

constexpr int RiffErrBadParam = 2;      // INFO or DISP list or file missing
constexpr int RiffErrIO = 3;            // an INFO or DISP chunk was not read or written completely
constexpr int RiffErrNoMemory = 4;      // no memory for an INFO or DISP list
constexpr int WaveIOErrGeneral = 101;   // no "fmt " chunk; a buffer size asked of a handle without a file
constexpr int WaveIOErrBadParam = 104;  // no handle, no file name or no format given
constexpr int WaveIOErrFile = 106;      // cannot open, no RIFF form of that type, or read/write/seek failed
constexpr int WaveIOErrNoMemory = 107;  // the handle block cannot be allocated

// Open flags: an ordinary file on disk.
constexpr uint32_t WaveIOFlagFile = 1;

constexpr FOURCC kWaveFormType = mmioFOURCC('W', 'A', 'V', 'E');

// ---- the handle ----

// One chunk of a file: its id, size (64-bit: an RF64 file's "ds64" gives
// sizes past 4 GiB), list or form type, and the offset of its body.
struct WaveChunk {
    FOURCC id = 0;
    uint64_t size = 0;
    FOURCC type = 0;
    uint64_t dataOffset = 0;
    // Data chunk: bytes were written to it since the file was opened.
    // RIFF chunk: the file was made by WaveIOCreateFile and is not finished.
    bool dirty = false;
};

// One parsed wave file, in one zero-filled block: this header, then the
// format with its extra bytes, then one spare zero byte. Made only by
// WaveIOOpen and WaveIOCreateHandle, freed only by WaveIOFree.
struct WaveIOHandle {
    uint32_t size;          // bytes of the whole block
    uint32_t flags;         // the open flags (WaveIOFlagFile)
    BufferedFile file;      // open while the file is accessed
    WaveChunk riffChunk;    // dirty while a file made by WaveIOCreateFile is written
    WaveChunk dataChunk;    // filled when positioned or created; dirty once written to
    uint64_t fileSize;      // of the whole file, at open or after finishing
    uint64_t dataBytes;     // usable sample bytes: whole blocks, but for a short last ADPCM block
    uint64_t dataOffset;    // file offset of the first sample byte
    uint64_t totalSamples;  // sample frames in the data
    uint64_t rangeStart;    // first frame of the readable range
    uint64_t rangeEnd;      // end frame of the readable range
    uint64_t bytesLeft;     // to read from the current position to rangeEnd
    uint64_t position;      // current frame, relative to rangeStart
    uint64_t factOffset;    // offset of the sample count of a "fact" chunk before the data; 0: none
    bool laterData;         // another data chunk follows the one read (it is not read)
    bool bigEndian;         // a RIFX file: read only; its format is held, its samples read, little-endian
    std::string fileName;
    std::unique_ptr<DisplayList> displayList;
    std::unique_ptr<InfoList> infoList;
    WAVEFORMATEX format;    // must stay last: its extra bytes follow in the block

    WaveIOHandle() = default;
    WaveIOHandle(const WaveIOHandle&) = delete;
    WaveIOHandle& operator=(const WaveIOHandle&) = delete;

    // The format's extra bytes (cbSize of them for a format other than PCM).
    const uint8_t* FormatExtra() const { return reinterpret_cast<const uint8_t*>(&format) + sizeof(WAVEFORMATEX); }
};
using PWaveIOHandle = WaveIOHandle*;

// Parses a file (form type "WAVE") into a new handle; the file is closed
// again. handle is null on failure.
int WaveIOOpen(PWaveIOHandle& handle, const char* fileName, FOURCC formType = kWaveFormType,
               uint32_t flags = WaveIOFlagFile);
// A handle around a copy of the format, with empty lists and no file.
int WaveIOCreateHandle(PWaveIOHandle& handle, const WAVEFORMATEX* format);
// Creates the file with its RIFF, "fmt " and empty data chunk; it stays open
// for writing. A failed creation leaves no file behind.
int WaveIOCreateFile(WaveIOHandle* handle, const char* fileName);
// Closes the file if open, frees everything and nulls the reference.
int WaveIOFree(PWaveIOHandle& handle);
// Reopens the file if needed and seeks to the handle's position.
int WaveIOBeginAccess(WaveIOHandle* handle);
// Finishes a written file (data size, "fact", DISP, LIST/INFO, RIFF size) and
// closes it; bytesLeft and position become 0.
int WaveIOEndAccess(WaveIOHandle* handle);
// The I/O buffer size of the open file.
int WaveIOSetBuffer(WaveIOHandle* handle, int32_t size);
// Positions at a sample frame relative to rangeStart, clamped to the range.
int WaveIOSeek(WaveIOHandle* handle, int64_t sample);
// Positions the open file behind the last sample byte, where WaveIOWrite
// appends to an existing file (WaveIOSeek stops at the last sample).
int WaveIOSeekToEnd(WaveIOHandle* handle);
// Bytes read (never more than count nor past rangeEnd), or -1.
int32_t WaveIORead(WaveIOHandle* handle, void* buffer, int32_t count);
// Bytes written at the current position, or -1.
int32_t WaveIOWrite(WaveIOHandle* handle, const void* buffer, int32_t count);

bool IsWaveFile(const char* fileName, uint32_t flags = WaveIOFlagFile);

// The bytes of one channel's sample of a PCM or float format (also
// extensible); 0 for other formats, whose bytes are no samples of their own.
uint32_t WaveSampleContainer(const WAVEFORMATEX& format);
// Reverses the byte order of each whole `container`-byte sample in `data`.
void WaveSwapSampleBytes(void* data, size_t size, uint32_t container);
bool WaveIOFileExists(const char* fileName);
bool WaveIOParseName(const char* fileName);
bool WaveIODeleteFile(const char* fileName);

// Frees a handle when the owner goes, for callers that keep one in a scope.
struct WaveIOHandleDeleter {
    void operator()(WaveIOHandle* handle) const noexcept { WaveIOFree(handle); }
};
using WaveIOHandlePtr = std::unique_ptr<WaveIOHandle, WaveIOHandleDeleter>;
