// Layers I and II: bit allocation, scalefactors and the requantisation of
// the subband samples (layer II with its allocation tables, grouped codes
// and quantisation classes).
#include <cmath>
#include <cstring>

#include "mpegdec/MpegBits.h"
#include "mpegdec/MpegDecoderState.h"
#include "mpegdec/MpegRequantise.h"
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

// A layer II subband's quantiser: its code width and, for a grouped
// class, the values of each code (MpegRequantise.h).
struct BandQuantiser {
    const GroupedValues* groups;
    int bits;
};

BandQuantiser QuantiserOf(int cls) {
    const QuantClass& q = kQuantClasses[cls];
    if (!q.grouped) return {nullptr, q.bits};
    switch (q.steps) {
    case 3: return {kGroups3.codes, q.bits};
    case 5: return {kGroups5.codes, q.bits};
    default: return {kGroups9.codes, q.bits};
    }
}

// Three samples of one subband: grouped as one code, or one code each. The
// cache holds the 48 bits this takes at most after its refill. Returned by
// value, so that the values stay in registers (stored one by one and read
// back as a pair, they stalled on the store forwarding).
__attribute__((always_inline)) inline GroupedValues ReadTriple(BitCache& cache, const BandQuantiser& q) {
    cache.Refill();
    if (q.groups) return q.groups[cache.Read(q.bits)];
    const uint32_t first = cache.Read(q.bits), second = cache.Read(q.bits), third = cache.Read(q.bits);
    return {{LevelValue(first, q.bits), LevelValue(second, q.bits), LevelValue(third, q.bits)}};
}

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
                    state.subbands[ch][sb][s] = nb ? LevelValue(bits.Read(nb + 1), nb + 1) * scale[ch][sb] : 0.0f;
                }
            } else {
                const int nb = alloc[0][sb];
                const float v = nb ? LevelValue(bits.Read(nb + 1), nb + 1) : 0.0f;
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
    BandQuantiser quantiser[2][32];
    for (int sb = 0; sb < subbands; ++sb)
        for (int ch = 0; ch < channels; ++ch)
            if (cls[ch][sb] >= 0) quantiser[ch][sb] = QuantiserOf(cls[ch][sb]);
    // The samples are most of the frame's bits: read from a cache, topped
    // up before each three samples (48 bits at most).
    BitCache cache(bits);
    std::memset(state.subbands, 0, sizeof state.subbands);
    slots = 36;
    for (int gr = 0; gr < 12; ++gr) {
        const int part = gr / 4;
        for (int sb = 0; sb < subbands; ++sb) {
            if (sb < bound) {
                for (int ch = 0; ch < channels; ++ch) {
                    if (cls[ch][sb] < 0) continue;
                    const GroupedValues v = ReadTriple(cache, quantiser[ch][sb]);
                    float* out = &state.subbands[ch][sb][3 * gr];
                    for (int i = 0; i < 3; ++i) out[i] = v.values[i] * scale[ch][sb][part];
                }
            } else if (cls[0][sb] >= 0) {
                const GroupedValues v = ReadTriple(cache, quantiser[0][sb]);
                for (int ch = 0; ch < channels; ++ch) {
                    float* out = &state.subbands[ch][sb][3 * gr];
                    for (int i = 0; i < 3; ++i) out[i] = v.values[i] * scale[ch][sb][part];
                }
            }
        }
    }
    if (cache.position() > bits.limit()) return DecodeResult::badSideInfo;
    return bits.overrun() ? DecodeResult::badSideInfo : DecodeResult::ok;
}

}  // namespace mpegaudio
