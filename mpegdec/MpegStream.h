// Parsing of an MPEG audio byte stream read in pieces: frame headers, the
// tags around the audio, the Xing/Info and VBRI headers, and a frame index
// that grows as far as it is asked to. Nothing here calls the system: the
// bytes come through a ByteSource.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "mpegdec/MpegDecoder.h"

namespace mpegdec {

// The largest frame any accepted header gives: MPEG-2.5 layer II at
// 160 kbit/s and 8 kHz, padded: 144 * 160000 / 8000 + 1 = 2881 bytes. (For
// comparison, a layer I frame of MPEG-1 is at most 12 * 448000 / 32000 = 168
// slots of 4 bytes, 676 bytes padded; one of MPEG-2.5 at 256 kbit/s and
// 8 kHz is 385 slots, 1540 bytes.) MpegStream.cpp checks this against the
// rate tables when it is compiled.
inline constexpr uint32_t kMaxFrameBytes = uint32_t(mpegaudio::kMaxFrameBytes);

enum class MpegVersion : uint8_t { Mpeg1, Mpeg2, Mpeg25 };

struct FrameHeader {
    MpegVersion Version = MpegVersion::Mpeg1;
    int Layer = 0;            // 1, 2, 3
    bool Crc = false;         // a 16-bit CRC follows the header
    int BitRateKbps = 0;
    int SampleRate = 0;
    bool Padding = false;
    int ModeBits = 0;         // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
    int Samples = 0;          // per channel and frame
    uint32_t Bytes = 0;       // of the whole frame, header included
    uint32_t FreeBytes = 0;   // free format: the stream's frame length without padding; 0 otherwise
    int Channels() const { return ModeBits == 3 ? 1 : 2; }
    int SamplesPerFrame() const { return Samples; }
    uint32_t FrameBytes() const { return Bytes; }
    // Same stream: version, layer, sample rate, and free format of the same
    // length or none (the mode may change).
    bool SameStream(const FrameHeader& other) const {
        return Version == other.Version && Layer == other.Layer && SampleRate == other.SampleRate && FreeBytes == other.FreeBytes;
    }
};

// Where the parser's bytes come from.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Copies bytes from `offset` into `out`: how many (fewer only at the
    // end), or -1 when the bytes cannot be read.
    virtual int64_t Read(uint64_t offset, std::span<uint8_t> out) = 0;
};

// Bytes held in memory.
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    uint64_t Size() const override { return bytes_.size(); }
    int64_t Read(uint64_t offset, std::span<uint8_t> out) override;

private:
    std::span<const uint8_t> bytes_;
};

enum class HeaderResult { Ok, NoSync, Reserved, FreeFormat };

// Decodes the 4 header bytes at `bytes` (at least 4 readable). A
// free-format header needs its stream's frame length without padding
// (`freeBytes`, mpegaudio::FindFreeFormatBytes); without it the answer is
// FreeFormat.
HeaderResult ParseHeader(const uint8_t* bytes, FrameHeader& header, uint32_t freeBytes = 0);

// Where the audio lies in a file, and what the container tells.
struct StreamLayout {
    uint64_t AudioStart = 0;
    uint64_t AudioEnd = 0;      // exclusive
    bool HasId3v1 = false;
    uint8_t Id3v1[128] = {};
};

enum class LayoutResult { Ok, Id3v2PastEnd, WaveWithoutMpeg, ReadError };

// Finds the audio area: after an ID3v2 tag at `offset` (or the "data" chunk
// of a RIFF WAVE file with tag 0x0050/0x0055), before an ID3v1 tag at the end
// and `trailingBytes` before it.
// Reads only the headers it walks and the last 128 bytes.
LayoutResult FindLayout(ByteSource& file, uint64_t offset, uint32_t trailingBytes, StreamLayout& layout);

// What a Xing/Info or VBRI header inside `frame` announces: the frame
// count, the file's size in bytes, and from the encoder's tag after a
// Xing/Info header the samples of encoder delay at the start and of
// padding at the end.
struct InfoFrame {
    bool Present = false;       // the frame is an information frame, not audio
    bool VariableRate = false;  // "Xing" or VBRI (an "Info" header marks a constant rate)
    int64_t Frames = -1;        // -1: not given
    int64_t Bytes = -1;         // -1: not given
    bool Gapless = false;       // the encoder's tag gave delay and padding
    uint32_t EncoderDelay = 0;
    uint32_t EncoderPadding = 0;
};
InfoFrame ReadInfoFrame(std::span<const uint8_t> frame, const FrameHeader& header);

// The frames of the audio area, found by walking it from the start as far
// as asked: a frame is taken where a valid header of the stream stands and,
// unless the area ends with it, the next header follows; garbage between
// frames is skipped. A truncated last frame is dropped. A free-format
// stream's frame length is found at its first frame, from the distance to
// the next header; before the stream is found, at the first
// kFreeFormatSearches free-format headers only (a search parses up to
// 2,880 headers), and after it never (a free-format header of another
// stream cannot belong to it).
//
// The index is compact: two bytes a frame (its size and the bytes skipped
// before it) and a file offset every kBlockFrames frames, so that even
// frames of 24 bytes (MPEG-2 layer III at 8 kbit/s) index in about a tenth
// of their bytes (a third at most, with garbage between every other frame).
class FrameIndex {
public:
    static constexpr size_t kBlockFrames = 32;
    static constexpr int kFreeFormatSearches = 64;

    // Starts over on this audio area; nothing is read yet.
    void Reset(const StreamLayout& layout);
    // Walks on until `count` audio frames are known or the area ends;
    // false when the file could not be read.
    bool Extend(ByteSource& file, size_t count);
    // The whole area has been walked.
    bool Complete() const noexcept { return complete_; }
    size_t Count() const noexcept { return frames_.size(); }
    // Free-format length searches made so far (each parses up to 2,880 headers).
    int FreeFormatSearches() const noexcept { return freeSearches_; }
    // Frame i's file offset and size in bytes (i < Count()).
    uint64_t Offset(size_t i) const;
    uint32_t Size(size_t i) const noexcept { return frames_[i] & kSizeMask; }

    FrameHeader First;              // the first audio frame's header
    InfoFrame Info;                 // the information frame before it, if any
    uint64_t AudioBytes = 0;        // sum of the frames' sizes
    bool SawReserved = false;
    bool SawFreeFormat = false;     // a free-format header whose frame length was not found

private:
    // A frame's entry: its size in the low 12 bits (kMaxFrameBytes fits),
    // in the top 4 the bytes between the end of the frame before and it
    // (kBigGap: that many or more, the count in bigGaps_). A block's first
    // frame has its offset in blocks_ and no gap.
    static constexpr uint16_t kSizeMask = 0x0FFF;
    static constexpr uint32_t kBigGap = 15;
    struct BigGap {
        uint64_t frame;
        uint64_t bytes;
    };
    uint64_t GapBefore(size_t i) const;
    void Add(uint64_t offset, uint32_t size);
    // The bytes [pos, pos + count) of the area, read through a window;
    // null past the area's end or when the file cannot be read.
    const uint8_t* Bytes(ByteSource& file, uint64_t pos, size_t count);
    bool FrameAt(ByteSource& file, uint64_t pos, FrameHeader& header);

    std::vector<uint16_t> frames_;
    std::vector<uint64_t> blocks_;  // the offset of frame k * kBlockFrames
    std::vector<BigGap> bigGaps_;   // by frame
    uint64_t lastEnd_ = 0;          // where the last indexed frame ends
    uint64_t end_ = 0;
    uint64_t at_ = 0;           // where the walk goes on
    bool haveStream_ = false;   // First is set
    bool locked_ = false;       // at_ is right after a frame of the stream
    bool first_ = true;         // no frame seen yet (the information frame may come)
    bool complete_ = false;
    bool readError_ = false;
    int freeSearches_ = 0;      // free-format length searches made
    uint32_t freeBytes_ = 0;    // First's FreeBytes
    std::vector<uint8_t> window_;
    uint64_t windowAt_ = 0;
    size_t windowBytes_ = 0;
};

// The smallest frame a stream of this header's version, layer and sample
// rate can have: that of the lowest indexed rate unpadded (a free-format
// stream: its length). An information frame that counts more frames than
// the audio area holds of these counts wrong.
uint32_t SmallestFrameBytes(const FrameHeader& header);

}  // namespace mpegdec
