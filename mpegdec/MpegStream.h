// Parsing of an MPEG audio byte stream held in memory: frame headers, the
// tags around the audio, the Xing/Info and VBRI headers, and the frame index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace mpegdec {

// The largest frame any accepted header gives: MPEG-2.5 layer II at
// 160 kbit/s and 8 kHz, padded: 144 * 160000 / 8000 + 1 = 2881 bytes. (For
// comparison, a layer I frame of MPEG-1 is at most 12 * 448000 / 32000 = 168
// slots of 4 bytes, 676 bytes padded; one of MPEG-2.5 at 256 kbit/s and
// 8 kHz is 385 slots, 1540 bytes.) MpegStream.cpp checks this against its
// tables when it is compiled.
inline constexpr uint32_t kMaxFrameBytes = 2881;

enum class MpegVersion : uint8_t { Mpeg1, Mpeg2, Mpeg25 };

struct FrameHeader {
    MpegVersion Version = MpegVersion::Mpeg1;
    int Layer = 0;            // 1, 2, 3
    bool Crc = false;         // a 16-bit CRC follows the header
    int BitRateKbps = 0;
    int SampleRate = 0;
    bool Padding = false;
    int ModeBits = 0;         // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
    int Channels() const { return ModeBits == 3 ? 1 : 2; }
    int SamplesPerFrame() const;
    uint32_t FrameBytes() const;
    // Same stream: version, layer, sample rate (the mode may change).
    bool SameStream(const FrameHeader& other) const {
        return Version == other.Version && Layer == other.Layer && SampleRate == other.SampleRate;
    }
};

enum class HeaderResult { Ok, NoSync, Reserved, FreeFormat };

// Decodes the 4 header bytes at `bytes` (at least 4 readable).
HeaderResult ParseHeader(const uint8_t* bytes, FrameHeader& header);

// Where the audio lies in a file, and what the container tells.
struct StreamLayout {
    uint64_t AudioStart = 0;
    uint64_t AudioEnd = 0;      // exclusive
    bool HasId3v1 = false;
    uint8_t Id3v1[128] = {};
};

enum class LayoutResult { Ok, Id3v2PastEnd, WaveWithoutMpeg };

// Finds the audio area: after an ID3v2 tag at `offset` (or the "data" chunk
// of a RIFF WAVE file with tag 0x0050/0x0055), before an ID3v1 tag at the end
// and `trailingBytes` before it.
LayoutResult FindLayout(std::span<const uint8_t> file, uint64_t offset, uint32_t trailingBytes, StreamLayout& layout);

// What a Xing/Info or VBRI header inside `frame` announces: the frame
// count, and from the encoder's tag after a Xing/Info header the samples
// of encoder delay at the start and of padding at the end.
struct InfoFrame {
    bool Present = false;       // the frame is an information frame, not audio
    bool VariableRate = false;  // "Xing" or VBRI (an "Info" header marks a constant rate)
    int64_t Frames = -1;        // -1: not given
    bool Gapless = false;       // the encoder's tag gave delay and padding
    uint32_t EncoderDelay = 0;
    uint32_t EncoderPadding = 0;
};
InfoFrame ReadInfoFrame(std::span<const uint8_t> frame, const FrameHeader& header);

struct FrameIndex {
    FrameHeader First;              // the first audio frame's header
    InfoFrame Info;                 // the information frame before it, if any
    std::vector<uint32_t> Offsets;  // file offset of every audio frame
    std::vector<uint16_t> Sizes;    // its size in bytes (truncated to the audio end)
    uint64_t AudioBytes = 0;        // sum of Sizes
    bool SawReserved = false;
    bool SawFreeFormat = false;
};

// Walks the frames of the audio area, resynchronising over garbage: a frame
// is taken where a valid header of the stream stands and, unless the area
// ends with it, the next header follows. The last frame may be truncated.
FrameIndex BuildIndex(std::span<const uint8_t> file, const StreamLayout& layout);

}  // namespace mpegdec
