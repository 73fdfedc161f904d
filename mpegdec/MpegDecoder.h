// MPEG audio decoder (MPEG-1, MPEG-2 and MPEG-2.5; layers I, II and III):
// whole frames in, 16-bit interleaved PCM out. It makes no system call and
// keeps all its state in the object, so it runs wherever it is built (the
// library, the tests and the native fuzz target alike). One object decodes
// one stream; it is not shared between threads.
//
// Every length and index taken from the stream is checked before use: a
// hostile frame gives an error code (and silence where a frame's worth of
// samples is still owed), never a read outside the frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "mpegdec/MpegSynthesis.h"

namespace mpegaudio {

enum class MpegVersion : uint8_t { mpeg1, mpeg2, mpeg25 };

// A parsed 4-byte frame header.
struct FrameHeader {
    MpegVersion version = MpegVersion::mpeg1;
    int layer = 0;            // 1, 2 or 3
    bool crc = false;         // a 16-bit check word follows the header
    int bitrateIndex = 0;     // 1..14, or 0: free format
    int bitrateKbps = 0;      // free format: the rate the unpadded frame length gives, rounded
    int sampleRateIndex = 0;  // 0..2 within the version
    int sampleRate = 0;       // Hz
    bool padding = false;
    int mode = 0;             // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
    int modeExtension = 0;
    int channels = 0;
    int frameBytes = 0;       // the whole frame, header included
    int samplesPerFrame = 0;  // per channel
};

enum class HeaderResult { ok, tooShort, noSync, badVersion, badLayer, badBitrate, badSampleRate, freeFormat };

// Parses the four bytes at `data` (of which `size` are readable). A
// free-format header (bit-rate index 0) takes its frame length from
// `freeBytes`, the stream's unpadded frame length (FindFreeFormatBytes);
// without one it answers freeFormat, the header filled but frameBytes 0.
HeaderResult ParseHeader(const uint8_t* data, size_t size, FrameHeader& header, int freeBytes = 0);

// The unpadded frame length of the free-format stream whose frame starts
// at `data` (`size` readable bytes): the distance to the next header of the
// stream (same version, layer and sample rate, free format) less this
// frame's padding, confirmed by the header after that one wherever the
// bytes reach it. 0 when no such header follows between the smallest and
// the largest frame a free-format stream may have (those of the layer's
// lowest and highest indexed rates).
int FindFreeFormatBytes(const uint8_t* data, size_t size);

// The largest frame any accepted header gives: layer II at 160 kbit/s and
// 8 kHz with padding (144 * 160000 / 8000 + 1 = 2881 bytes).
constexpr int kMaxFrameBytes = 2881;
// Samples per channel of the longest frame (layers II and III, MPEG-1).
constexpr int kMaxFrameSamples = 1152;

enum class DecodeResult {
    ok,
    badHeader,      // not a frame header this decoder accepts
    truncated,      // fewer bytes than the header announces
    badSideInfo,    // side information or allocation out of range
    missingData,    // the bit reservoir reaches back before the data we have (after a seek)
};

// What the frames decoded so far have used, for checking that a set of
// test streams reaches every table and block kind.
struct DecoderCoverage {
    uint32_t huffmanTables = 0;  // bit t: big-value table t
    uint32_t count1Tables = 0;   // bit 0: table A, bit 1: table B
    uint32_t blockTypes = 0;     // bit t: block type t (0 long, 1 start, 2 short, 3 stop); bit 4: mixed
    uint32_t stereo = 0;         // bit m: mode m (0 stereo .. 3 single); bit 4: intensity; bit 5: mid/side
    uint32_t layers = 0;         // bit l: layer l
};

struct DecoderState;

class MpegDecoder {
public:
    MpegDecoder();
    ~MpegDecoder();
    MpegDecoder(const MpegDecoder&) = delete;
    MpegDecoder& operator=(const MpegDecoder&) = delete;

    // Decodes the frame at `frame` (header first, `size` readable bytes, of
    // which the header's frame length is used; a free-format stream's length
    // is found from its first frame given here and kept). On ok and on missingData and
    // badSideInfo after a valid header, `pcm` gets header.samplesPerFrame
    // interleaved samples per channel (silence for what could not be
    // decoded) and `samples` their count per channel; on the other results
    // `samples` is 0 and `pcm` is left alone. `pcm` must hold
    // kMaxFrameSamples * 2 values.
    DecodeResult DecodeFrame(const uint8_t* frame, size_t size, int16_t* pcm, int& samples);

    // The header of the last frame given to DecodeFrame (valid or not).
    const FrameHeader& LastHeader() const;

    const DecoderCoverage& Coverage() const;

    // Forces the vector path of the synthesis and of layer III's inverse
    // transform (tests and benchmarks compare them).
    void SetSynthesisPath(SynthesisPath path);

    // Forgets the history (bit reservoir, overlap, filter bank): call after a seek.
    void Reset();

    // The stream's unpadded free-format frame length as the caller found it
    // (a frame index): DecodeFrame takes it for every free-format frame
    // instead of looking for it in the bytes it is given, so a frame may be
    // given alone. 0: look for it again (the default).
    void SetFreeFormatBytes(int bytes);

private:
    std::unique_ptr<DecoderState> state_;
};

}  // namespace mpegaudio
