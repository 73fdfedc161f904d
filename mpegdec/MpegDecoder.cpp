// Frame headers and the frame dispatch: a frame's layer fills subband
// samples, the synthesis filter bank turns them into interleaved PCM.
#include "mpegdec/MpegDecoder.h"

#include <cstring>

#include "mpegdec/MpegDecoderState.h"
#include "mpegdec/MpegTables.h"

namespace mpegaudio {

MpegDecoder::MpegDecoder() : state_(std::make_unique<DecoderState>()) { state_->Reset(); }
MpegDecoder::~MpegDecoder() = default;

const FrameHeader& MpegDecoder::LastHeader() const { return state_->header; }

const DecoderCoverage& MpegDecoder::Coverage() const { return state_->coverage; }

void MpegDecoder::Reset() { state_->Reset(); }

void MpegDecoder::SetFreeFormatBytes(int bytes) {
    state_->freeBytes = bytes;
    state_->freeBytesGiven = bytes > 0;
}

void MpegDecoder::SetSynthesisPath(SynthesisPath path) {
    state_->synthesis.SetPath(path);
    state_->vectorPath = path;
}

DecodeResult MpegDecoder::DecodeFrame(const uint8_t* frame, size_t size, int16_t* pcm, int& samples) {
    samples = 0;
    DecoderState& s = *state_;
    if (size >= 4 && (frame[2] >> 4) == 0 && !s.freeBytesGiven) {
        // Free format: the length found for this stream, or found now.
        const uint32_t stream = uint32_t(frame[1] & 0x1E) << 8 | (frame[2] & 0x0C);
        if (s.freeBytes == 0 || s.freeStream != stream) {
            s.freeBytes = FindFreeFormatBytes(frame, size);
            s.freeStream = stream;
        }
    }
    if (ParseHeader(frame, size, s.header, s.freeBytes) != HeaderResult::ok) return DecodeResult::badHeader;
    const FrameHeader& h = s.header;
    if (size < size_t(h.frameBytes)) return DecodeResult::truncated;
    if (h.channels == 1 && s.lastChannels == 2) s.ResetChannel(1);
    s.lastChannels = h.channels;
    const int headerBytes = h.crc ? 6 : 4;
    if (h.frameBytes < headerBytes) return DecodeResult::truncated;
    const uint8_t* body = frame + headerBytes;
    const int bodySize = h.frameBytes - headerBytes;
    s.coverage.layers |= 1u << h.layer;
    s.coverage.stereo |= 1u << h.mode;
    int slots = 0;
    DecodeResult result = DecodeResult::ok;
    switch (h.layer) {
    case 1: result = DecodeLayer1(s, body, bodySize, slots); break;
    case 2: result = DecodeLayer2(s, body, bodySize, slots); break;
    default: result = DecodeLayer3(s, body, bodySize, slots); break;
    }
    if (result == DecodeResult::truncated) return result;
    if (result != DecodeResult::ok) {
        // Silence for a frame that cannot be decoded, through the filter
        // bank so that the last frame's tail still sounds.
        std::memset(s.subbands, 0, sizeof s.subbands);
        slots = h.samplesPerFrame / 32;
    }
    samples = slots * 32;
    if (h.channels == 1) {
        s.synthesis.Run(0, &s.subbands[0][0][0], 36, slots, pcm, 1);
        return result;
    }
    // Each channel in a row of its own, then interleaved: the filter bank
    // stores whole vectors, where interleaved output would take one store
    // per sample.
    alignas(16) int16_t planar[2][kMaxFrameSamples];
    for (int ch = 0; ch < 2; ++ch) s.synthesis.Run(ch, &s.subbands[ch][0][0], 36, slots, planar[ch], 1);
    s.synthesis.Interleave(planar[0], planar[1], samples, pcm);
    return result;
}

}  // namespace mpegaudio
