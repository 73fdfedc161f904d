// What the decoder keeps between frames, shared by the layer decoders
// (MpegLayer12.cpp, MpegLayer3.cpp) and the frame dispatch (MpegDecoder.cpp).
#pragma once

#include <cstdint>

#include "mpegdec/MpegDecoder.h"
#include "mpegdec/MpegSynthesis.h"

namespace mpegaudio {

// Main data a layer III frame may reach back to: main_data_begin is 9 bits
// (511 bytes), and a frame's own main data is at most 2881 bytes.
constexpr int kReservoirBytes = 4096;

struct DecoderState {
    FrameHeader header;
    DecoderCoverage coverage;
    // A free-format stream's unpadded frame length, once found, and the
    // stream it was found for (its header's version, layer and sample-rate
    // bits). A property of the stream: kept across Reset.
    int freeBytes = 0;
    uint32_t freeStream = 0;
    bool freeBytesGiven = false;  // freeBytes came from SetFreeFormatBytes: never searched
    Synthesis synthesis;
    // Subband samples of one frame: [channel][subband][time slot], each
    // subband's slots in a row as the filter bank takes them.
    alignas(32) float subbands[2][32][36];

    // Layer III.
    uint8_t reservoir[kReservoirBytes];
    int reservoirSize = 0;          // bytes of main data kept from earlier frames
    // The second half of the last inverse transform, padded to whole vectors.
    alignas(32) float overlap[2][32][24];
    int overlapBands[2] = {0, 0};   // subbands whose overlap may be non-zero
    // The vector path of the inverse transform, as the synthesis chooses its own.
    SynthesisPath vectorPath = FastestSynthesisPath();

    // The channels of the last frame (0: none yet). A mono frame after a
    // stereo one clears the second channel's history, so that a stereo
    // frame after mono ones decodes the same whether the frames before the
    // mono ones were decoded or not (after a seek).
    int lastChannels = 0;

    void Reset() {
        synthesis.Reset();
        reservoirSize = 0;
        for (int ch = 0; ch < 2; ++ch) ResetChannel(ch);
        lastChannels = 0;
    }
    void ResetChannel(int ch) {
        synthesis.ResetChannel(ch);
        for (auto& band : overlap[ch])
            for (float& x : band) x = 0.0f;
        overlapBands[ch] = 0;
    }
};

// The layers. `data` is the frame after its header (and check word), `size`
// its bytes; they fill state.subbands and answer the time slots filled.
DecodeResult DecodeLayer1(DecoderState& state, const uint8_t* data, int size, int& slots);
DecodeResult DecodeLayer2(DecoderState& state, const uint8_t* data, int size, int& slots);
DecodeResult DecodeLayer3(DecoderState& state, const uint8_t* data, int size, int& slots);

}  // namespace mpegaudio
