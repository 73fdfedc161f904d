// Layers I and II: bit allocation, scalefactors and the requantisation of
// the subband samples (layer II with its allocation tables, grouped codes
// and quantisation classes).
#include <cmath>
#include <cstring>

#include "mpegdec/MpegBits.h"
#include "mpegdec/MpegDecoderState.h"
#include "mpegdec/MpegTables.h"

namespace mpegaudio {

namespace {

// Scalefactor index i scales by 2^(1 - i / 3); 63 is not used by encoders
// and follows the same rule.
struct ScaleTable {
    float values[64];
    ScaleTable() {
        for (int i = 0; i < 64; ++i) values[i] = float(std::pow(2.0, 1.0 - i / 3.0));
    }
};

const float* Scales() {
    static const ScaleTable table;
    return table.values;
}

// A code v of a quantiser with `steps` levels stands for (2v - steps + 1) / steps.
inline float Dequantise(uint32_t v, int32_t steps) { return float(2 * int64_t(v) - steps + 1) / float(steps); }

// The joint stereo bound: subbands from here on carry one set of samples for both channels.
int Bound(const FrameHeader& h, int subbands) {
    if (h.channels == 1) return subbands;
    if (h.mode != 1) return subbands;
    const int bound = (h.modeExtension + 1) * 4;
    return bound < subbands ? bound : subbands;
}

}  // namespace

DecodeResult DecodeLayer1(DecoderState& state, const uint8_t* data, int size, int& slots) {
    const FrameHeader& h = state.header;
    const int channels = h.channels;
    const int bound = Bound(h, 32);
    BitReader bits(data, size_t(size));
    int alloc[2][32] = {};
    for (int sb = 0; sb < 32; ++sb) {
        if (sb < bound) {
            for (int ch = 0; ch < channels; ++ch) alloc[ch][sb] = int(bits.Read(4));
        } else {
            alloc[0][sb] = alloc[1][sb] = int(bits.Read(4));
        }
        // Allocation 15 is forbidden.
        if (alloc[0][sb] == 15 || alloc[1][sb] == 15) return DecodeResult::badSideInfo;
    }
    const float* scales = Scales();
    float scale[2][32] = {};
    for (int sb = 0; sb < 32; ++sb)
        for (int ch = 0; ch < channels; ++ch)
            if (alloc[ch][sb]) scale[ch][sb] = scales[bits.Read(6)];
    slots = 12;
    for (int s = 0; s < 12; ++s)
        for (int sb = 0; sb < 32; ++sb) {
            if (sb < bound) {
                for (int ch = 0; ch < channels; ++ch) {
                    const int nb = alloc[ch][sb];
                    state.subbands[ch][sb][s] = nb ? Dequantise(bits.Read(nb + 1), (1 << (nb + 1)) - 1) * scale[ch][sb] : 0.0f;
                }
            } else {
                const int nb = alloc[0][sb];
                const float v = nb ? Dequantise(bits.Read(nb + 1), (1 << (nb + 1)) - 1) : 0.0f;
                for (int ch = 0; ch < channels; ++ch) state.subbands[ch][sb][s] = v * scale[ch][sb];
            }
        }
    return bits.overrun() ? DecodeResult::badSideInfo : DecodeResult::ok;
}

DecodeResult DecodeLayer2(DecoderState& state, const uint8_t* data, int size, int& slots) {
    const FrameHeader& h = state.header;
    const int channels = h.channels;
    // The allocation table follows from the version, the rate and the bit
    // rate per channel.
    int tableIndex = 4;
    if (h.version == MpegVersion::mpeg1) {
        const int perChannel = h.bitrateKbps / channels;
        if (perChannel <= 48)
            tableIndex = h.sampleRate == 32000 ? 3 : 2;
        else if (perChannel <= 80)
            tableIndex = 0;
        else
            tableIndex = h.sampleRate == 48000 ? 0 : 1;
    }
    const AllocationTable& table = kAllocationTables[tableIndex];
    const int subbands = table.subbands;
    const int bound = Bound(h, subbands);
    BitReader bits(data, size_t(size));
    int cls[2][32];
    for (auto& c : cls)
        for (int& x : c) x = -1;
    for (int sb = 0; sb < subbands; ++sb) {
        const AllocationRow& row = kAllocationRows[table.rows[sb]];
        if (sb < bound) {
            for (int ch = 0; ch < channels; ++ch) cls[ch][sb] = row.classes[bits.Read(row.width)];
        } else {
            cls[0][sb] = cls[1][sb] = row.classes[bits.Read(row.width)];
        }
    }
    int scfsi[2][32] = {};
    for (int sb = 0; sb < subbands; ++sb)
        for (int ch = 0; ch < channels; ++ch)
            if (cls[ch][sb] >= 0) scfsi[ch][sb] = int(bits.Read(2));
    const float* scales = Scales();
    float scale[2][32][3] = {};
    for (int sb = 0; sb < subbands; ++sb)
        for (int ch = 0; ch < channels; ++ch) {
            if (cls[ch][sb] < 0) continue;
            float* s = scale[ch][sb];
            switch (scfsi[ch][sb]) {
            case 0:
                for (int p = 0; p < 3; ++p) s[p] = scales[bits.Read(6)];
                break;
            case 1:
                s[0] = s[1] = scales[bits.Read(6)];
                s[2] = scales[bits.Read(6)];
                break;
            case 2: s[0] = s[1] = s[2] = scales[bits.Read(6)]; break;
            default:
                s[0] = scales[bits.Read(6)];
                s[1] = s[2] = scales[bits.Read(6)];
                break;
            }
        }
    // Three samples of one subband: grouped as one code, or one code each.
    auto readTriple = [&](int c, float* v) {
        const QuantClass& q = kQuantClasses[c];
        if (q.grouped) {
            uint32_t code = bits.Read(q.bits);
            for (int i = 0; i < 3; ++i) {
                v[i] = Dequantise(code % uint32_t(q.steps), q.steps);
                code /= uint32_t(q.steps);
            }
        } else {
            for (int i = 0; i < 3; ++i) v[i] = Dequantise(bits.Read(q.bits), q.steps);
        }
    };
    std::memset(state.subbands, 0, sizeof state.subbands);
    slots = 36;
    for (int gr = 0; gr < 12; ++gr) {
        const int part = gr / 4;
        for (int sb = 0; sb < subbands; ++sb) {
            float v[3];
            if (sb < bound) {
                for (int ch = 0; ch < channels; ++ch) {
                    if (cls[ch][sb] < 0) continue;
                    readTriple(cls[ch][sb], v);
                    for (int i = 0; i < 3; ++i) state.subbands[ch][sb][3 * gr + i] = v[i] * scale[ch][sb][part];
                }
            } else if (cls[0][sb] >= 0) {
                readTriple(cls[0][sb], v);
                for (int ch = 0; ch < channels; ++ch)
                    for (int i = 0; i < 3; ++i) state.subbands[ch][sb][3 * gr + i] = v[i] * scale[ch][sb][part];
            }
        }
    }
    return bits.overrun() ? DecodeResult::badSideInfo : DecodeResult::ok;
}

}  // namespace mpegaudio
