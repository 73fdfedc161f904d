// The source's samples as the clean copy must hold them, handed out in
// blocks: plain PCM as it is stored, and every compressed format decoded to 16-bit PCM
// (Microsoft and IMA ADPCM by our own decoders, MPEG audio inside WAVE by
// the MPEG library, the rest by the system's codec manager). One factory,
// OpenDecodingStream, chooses the decoder for a source; the job's decoding
// and the check of the copy both take their streams from it.
//
// A stream runs on its caller's thread, except that plain PCM is read one
// block ahead on a worker thread of the stream's own (ReadAheadRegion in
// the unit).
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "framework/Handles.h"

struct WaveIOHandle;

constexpr uint16_t kTagPcm = WAVE_FORMAT_PCM;  // 1
constexpr uint16_t kTagFloat = 0x0003;         // WAVE_FORMAT_IEEE_FLOAT
constexpr uint16_t kTagExtensible = 0xFFFE;    // WAVE_FORMAT_EXTENSIBLE
constexpr uint16_t kTagImaAdpcm = 0x0011;
constexpr uint16_t kTagALaw = 0x0006;
constexpr uint16_t kTagMuLaw = 0x0007;
constexpr uint16_t kTagGsm610 = 0x0031;
constexpr uint16_t kTagMpeg = 0x0050;
constexpr uint16_t kTagMpegLayer3 = 0x0055;

bool IsMpegTag(uint16_t tag);

enum class SampleKind { Unsigned8, SignedInt, Float, MsAdpcm, ImaAdpcm, CodecManager, Other };

// How the samples of a wave file are stored, as far as the check cares.
struct SampleFormat {
    SampleKind kind = SampleKind::Other;
    uint16_t tag = 0;             // the format tag; for WAVE_FORMAT_EXTENSIBLE the sub-format's
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint16_t bytesPerSample = 0;  // the container of one channel's sample, for PCM kinds

    // Samples stored as they sound (8-bit unsigned, signed integer, float):
    // nothing to decode.
    bool Pcm() const { return kind == SampleKind::Unsigned8 || kind == SampleKind::SignedInt || kind == SampleKind::Float; }
};
SampleFormat Describe(const WaveIOHandle& wave);

// The tag a format stands for: its own, or the sub-format of an extensible
// one (0 when that sub-format is not tag-based).
uint16_t EffectiveTag(const WaveIOHandle& wave);

// The format in a few words, for the log.
std::string FormatText(const WaveIOHandle& wave);

// The speaker positions a wave declares: the channel mask of a
// WAVE_FORMAT_EXTENSIBLE format; 0 (none) for any other format.
uint32_t SpeakerMask(const WaveIOHandle& wave);
// The bits of each sample that hold sound: the valid bits of a
// WAVE_FORMAT_EXTENSIBLE format (its container's when it says 0), else the
// bits per sample.
uint16_t ValidBits(const WaveIOHandle& wave);

// The frames an ADPCM source decodes to: what its blocks give, a last
// block cut short included, or the count of its "fact" chunk where that is
// smaller. None for other formats.
std::optional<uint64_t> AdpcmFrames(const WaveIOHandle& source);

// Opens a file to read, leaving others free to do anything meanwhile: a
// converter still writes the copy the check follows, and the job removes
// its own temporary files while the check still reads them when it is
// abandoned. `flags`: CreateFile's flags and attributes.
wc::FileHandle OpenForReading(const std::string& path, DWORD flags = 0);

// Reads `count` bytes at `offset` of a file; false when they are not all there.
bool ReadAt(HANDLE file, uint64_t offset, void* out, DWORD count);

// A chunk of a wave file: where its body begins, and its 32-bit size field.
struct WaveChunkPlace {
    uint64_t bodyAt = 0;
    uint32_t size = 0;
};
// The first chunk of id `id` (four characters) in a RIFF, RF64 or BW64 wave
// file, walked from the form's start over at most a header's handful of
// chunks; none when it is not found or the file is no wave file.
std::optional<WaveChunkPlace> FindWaveChunk(HANDLE file, const char* id);

// The size of the sample data that a wave file's header declares (from
// "ds64" in an RF64 file); none when no data chunk is found.
std::optional<uint64_t> DeclaredDataBytes(const std::string& path);

// Hands out the expected output in blocks; an empty block ends the stream.
class DecodingStream {
public:
    virtual ~DecodingStream() = default;
    // The next block, empty at the end. False on a read or decode failure.
    virtual bool Next(std::vector<uint8_t>& block) = 0;
    std::string failure;  // what went wrong when Next returned false
};

// A decoding stream for this source, reading it from its start; `pcm`
// receives the format of the blocks it hands out. Null with the reason in
// `why` when nothing here decodes the source or it cannot be read. The
// stream reads through `source`, which must outlive it.
std::unique_ptr<DecodingStream> OpenDecodingStream(WaveIOHandle& source, WAVEFORMATEX& pcm, std::string& why);

// Reads a byte range of a file straight through the system, in the large
// sequential reads that keep a check of plain PCM close to the disk's pace.
class RegionReader {
public:
    RegionReader(const std::string& path, int64_t offset, int64_t length);
    bool Opened() const { return bool(file_); }
    // Bytes read into `buffer` (up to its size, never past the range), or -1.
    int64_t Read(std::vector<uint8_t>& buffer);

private:
    wc::FileHandle file_;
    int64_t left_;
};
