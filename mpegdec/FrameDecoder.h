// The decoding step of the library: whole MPEG audio frames in, 16-bit PCM
// out. The library owns one FrameDecoder per open file and talks to it only
// through this interface; MakeFrameDecoder is the one place that chooses
// the implementation.
//
// Contract of an implementation:
// - Start(first) forgets everything (bit reservoir, overlap, filter bank)
//   and gets ready for a stream of frames of first's version, layer and
//   sample rate (and free-format length); its channel count is
//   first.Channels() for the whole stream.
// - Decode(frames, sizes) takes 1 to kFramesPerBatch whole frames back to
//   back, frame i of sizes[i] bytes as the frame index found it, each
//   starting with its header, in stream order, and appends the samples it
//   has ready to `out`, interleaved by channel. Samples may come out later
//   than their frame (a decoder may hold some back), but never out of order
//   and never lost.
// - Finish(out) appends whatever is still held back. After it, every frame
//   handed in has given exactly SamplesPerFrame() samples per channel, in
//   the raw timing of the standard's synthesis (layer III carries its
//   529-sample decoder delay; the library trims it).
// - A frame that cannot be decoded (a bad header, fewer bytes than its
//   header announces) still yields its samples (silence is fine), and the
//   frames after it decode as they would without it; a status other than
//   MPEG_OK stops the read with that status.
// - Nothing throws out of it but std::bad_alloc.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "mpegdec/MpegStream.h"

namespace mpegdec {

// The most frames one Decode call is given: enough to keep the per-call
// cost low, few enough that a seek's pre-roll wastes little.
inline constexpr uint32_t kFramesPerBatch = 32;

class FrameDecoder {
public:
    virtual ~FrameDecoder() = default;
    virtual int32_t Start(const FrameHeader& first) = 0;
    virtual int32_t Decode(std::span<const uint8_t> frames, std::span<const uint16_t> sizes, std::vector<int16_t>& out) = 0;
    virtual int32_t Finish(std::vector<int16_t>& out) = 0;
};

std::unique_ptr<FrameDecoder> MakeFrameDecoder();

}  // namespace mpegdec
