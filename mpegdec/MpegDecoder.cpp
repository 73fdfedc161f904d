// Frame headers and the frame dispatch: a frame's layer fills subband
// samples, the synthesis filter bank turns them into interleaved PCM.
#include "mpegdec/MpegDecoder.h"

#include <cstring>

#include "mpegdec/MpegDecoderState.h"
#include "mpegdec/MpegTables.h"

namespace mpegaudio {

HeaderResult ParseHeader(const uint8_t* data, size_t size, FrameHeader& h) {
    if (size < 4) return HeaderResult::tooShort;
    const uint32_t word = uint32_t(data[0]) << 24 | uint32_t(data[1]) << 16 | uint32_t(data[2]) << 8 | data[3];
    if ((word >> 21) != 0x7FF) return HeaderResult::noSync;
    switch ((word >> 19) & 3) {
    case 0: h.version = MpegVersion::mpeg25; break;
    case 2: h.version = MpegVersion::mpeg2; break;
    case 3: h.version = MpegVersion::mpeg1; break;
    default: return HeaderResult::badVersion;
    }
    const int layerBits = int((word >> 17) & 3);
    if (layerBits == 0) return HeaderResult::badLayer;
    h.layer = 4 - layerBits;
    h.crc = ((word >> 16) & 1) == 0;
    h.bitrateIndex = int((word >> 12) & 15);
    if (h.bitrateIndex == 0 || h.bitrateIndex == 15) return HeaderResult::badBitrate;
    h.sampleRateIndex = int((word >> 10) & 3);
    if (h.sampleRateIndex == 3) return HeaderResult::badSampleRate;
    h.padding = ((word >> 9) & 1) != 0;
    h.mode = int((word >> 6) & 3);
    h.modeExtension = int((word >> 4) & 3);
    h.channels = h.mode == 3 ? 1 : 2;
    const bool mpeg1 = h.version == MpegVersion::mpeg1;
    h.bitrateKbps = kBitrates[mpeg1 ? 0 : 1][h.layer - 1][h.bitrateIndex];
    h.sampleRate = kSampleRates[int(h.version)][h.sampleRateIndex];
    const int64_t bitrate = int64_t(h.bitrateKbps) * 1000;
    if (h.layer == 1) {
        h.frameBytes = int((12 * bitrate / h.sampleRate + (h.padding ? 1 : 0)) * 4);
        h.samplesPerFrame = 384;
    } else if (h.layer == 2 || mpeg1) {
        h.frameBytes = int(144 * bitrate / h.sampleRate + (h.padding ? 1 : 0));
        h.samplesPerFrame = 1152;
    } else {
        h.frameBytes = int(72 * bitrate / h.sampleRate + (h.padding ? 1 : 0));
        h.samplesPerFrame = 576;
    }
    return HeaderResult::ok;
}

MpegDecoder::MpegDecoder() : state_(std::make_unique<DecoderState>()) { state_->Reset(); }
MpegDecoder::~MpegDecoder() = default;

const FrameHeader& MpegDecoder::LastHeader() const { return state_->header; }

const DecoderCoverage& MpegDecoder::Coverage() const { return state_->coverage; }

void MpegDecoder::Reset() { state_->Reset(); }

void MpegDecoder::SetSynthesisPath(SynthesisPath path) { state_->synthesis.SetPath(path); }

DecodeResult MpegDecoder::DecodeFrame(const uint8_t* frame, size_t size, int16_t* pcm, int& samples) {
    samples = 0;
    DecoderState& s = *state_;
    if (ParseHeader(frame, size, s.header) != HeaderResult::ok) return DecodeResult::badHeader;
    const FrameHeader& h = s.header;
    if (size < size_t(h.frameBytes)) return DecodeResult::truncated;
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
    for (int ch = 0; ch < h.channels; ++ch) s.synthesis.Run(ch, &s.subbands[ch][0][0], 36, slots, pcm + ch, h.channels);
    samples = slots * 32;
    return result;
}

}  // namespace mpegaudio
