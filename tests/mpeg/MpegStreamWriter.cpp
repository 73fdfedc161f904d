#include "MpegStreamWriter.h"

#include <cstddef>
#include <stdexcept>

namespace mpeg_tests {

namespace {

class Bits {
public:
    void Put(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            if (used_ % 8 == 0) bytes_.push_back(0);
            if ((value >> i) & 1) bytes_.back() |= uint8_t(0x80 >> (used_ % 8));
            ++used_;
        }
    }
    void Append(const Bits& other) {
        for (int i = 0; i < other.used_; ++i) Put((other.bytes_[size_t(i / 8)] >> (7 - i % 8)) & 1, 1);
    }
    int Count() const { return used_; }
    std::vector<uint8_t> PaddedTo(size_t size) const {
        if (bytes_.size() > size) throw std::length_error("the frame's bits overflow its size");
        std::vector<uint8_t> out = bytes_;
        out.resize(size, 0);
        return out;
    }

private:
    std::vector<uint8_t> bytes_;
    int used_ = 0;
};

class Random {
public:
    explicit Random(uint32_t seed) : state_(seed * 2654435761u + 1) {}
    int Below(int n) {
        state_ = state_ * 1664525u + 1013904223u;
        return int((state_ >> 8) % uint32_t(n));
    }

private:
    uint32_t state_;
};

// The highest bit rate of the version and layer (MPEG-1 layer I 448 kbit/s,
// layer III 320; MPEG-2 and 2.5 layer I 256, layer III 160), without
// padding; or the free-format rate.
int Kbps(const StreamRecipe& r) {
    if (r.freeKbps) return r.freeKbps;
    return r.layer == 1 ? (r.version == 1 ? 448 : 256) : (r.version == 1 ? 320 : 160);
}

struct FrameSize {
    int bytes;
    bool padded;
};

// Frame `index`'s size. Free format pads a frame (one slot: 4 bytes in
// layer I, 1 in layer III) whenever the rate's fraction of a slot has added
// up to another one, as an encoder keeps its mean rate.
FrameSize SizeOf(const StreamRecipe& r, int index) {
    static const int rates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
    const int64_t rate = rates[r.version == 1 ? 0 : r.version == 2 ? 1 : 2][r.rateIndex];
    const int64_t perSecond = int64_t(r.layer == 1 ? 12 : r.version == 1 ? 144 : 72) * Kbps(r) * 1000;  // slots * rate
    const int64_t slots = perSecond / rate, rest = perSecond % rate;
    const bool padded = r.freeKbps && (index + 1) * rest / rate != index * rest / rate;
    return {int(slots + (padded ? 1 : 0)) * (r.layer == 1 ? 4 : 1), padded};
}

void Header(Bits& b, const StreamRecipe& r, int extension, const FrameSize& size) {
    b.Put(0x7FF, 11);
    b.Put(r.version == 1 ? 3 : r.version == 2 ? 2 : 0, 2);
    b.Put(uint32_t(4 - r.layer), 2);
    b.Put(1, 1);  // no check word
    b.Put(r.freeKbps ? 0 : 14, 4);
    b.Put(uint32_t(r.rateIndex), 2);
    b.Put(size.padded, 1);
    b.Put(0, 1);  // private bit
    b.Put(uint32_t(r.mode), 2);
    b.Put(uint32_t(extension), 2);
    b.Put(0, 4);  // copyright, original, emphasis
}

std::vector<uint8_t> Layer1Frame(const StreamRecipe& r, int extension, const FrameSize& size, Random& rnd) {
    const int channels = r.mode == 3 ? 1 : 2;
    const int bound = r.mode == 1 ? (extension + 1) * 4 : 32;
    int alloc[2][32] = {};
    for (int sb = 0; sb < 32; ++sb)
        for (int ch = 0; ch < channels; ++ch) alloc[ch][sb] = sb >= bound && ch == 1 ? alloc[0][sb] : rnd.Below(sb < 8 ? 10 : 4);
    // Drop the highest allocations until the frame holds them.
    auto bitsNeeded = [&] {
        int bits = 32 + 4 * (bound * channels + (32 - bound));
        for (int sb = 0; sb < 32; ++sb)
            for (int ch = 0; ch < channels; ++ch) {
                if (!alloc[ch][sb]) continue;
                bits += 6;
                if (sb < bound || ch == 0) bits += 12 * (alloc[ch][sb] + 1);
            }
        return bits;
    };
    for (int sb = 31; sb >= 0 && bitsNeeded() > size.bytes * 8; --sb) alloc[0][sb] = alloc[1][sb] = 0;
    Bits b;
    Header(b, r, extension, size);
    for (int sb = 0; sb < 32; ++sb)
        for (int ch = 0; ch < (sb < bound ? channels : 1); ++ch) b.Put(uint32_t(alloc[ch][sb]), 4);
    for (int sb = 0; sb < 32; ++sb)
        for (int ch = 0; ch < channels; ++ch)
            if (alloc[ch][sb]) b.Put(uint32_t(5 + rnd.Below(30)), 6);
    for (int s = 0; s < 12; ++s)
        for (int sb = 0; sb < 32; ++sb)
            for (int ch = 0; ch < (sb < bound ? channels : 1); ++ch) {
                const int nb = alloc[ch][sb] ? alloc[ch][sb] + 1 : 0;
                if (nb) b.Put(uint32_t(rnd.Below((1 << nb) - 1)), nb);  // all ones is forbidden
            }
    return b.PaddedTo(size_t(size.bytes));
}

struct Granule {
    int part23 = 0, globalGain = 0, compress = 0, blockType = 0, subblockGain[3] = {};
    bool switching = false, mixed = false, preflag = false, scale = false;
    Bits main;
};

// Scalefactors as layer III sends them, each of `width` bits. With
// `illegalOdds` n, one in n is the largest value the width holds (the
// MPEG-2 intensity position that the standard counts as none).
void PutScalefactors(Bits& b, int count, int width, Random& rnd, int illegalOdds = 0) {
    for (int i = 0; i < count; ++i) {
        const bool illegal = illegalOdds && rnd.Below(illegalOdds) == 0;
        b.Put(uint32_t(illegal ? (1 << width) - 1 : rnd.Below(1 << width)), width);
    }
}

std::vector<uint8_t> Layer3Frame(const StreamRecipe& r, int extension, const FrameSize& size, Random& rnd, int* kinds) {
    const int channels = r.mode == 3 ? 1 : 2;
    const bool mpeg1 = r.version == 1;
    const int granules = mpeg1 ? 2 : 1;
    const bool intensity = r.mode == 1 && (extension & 1);
    Granule g[2][2];
    int scfsi[2][4] = {};
    for (int gr = 0; gr < granules; ++gr) {
        // Joint stereo keeps both channels on one block type.
        const int shared = rnd.Below(3);
        for (int ch = 0; ch < channels; ++ch) {
            Granule& x = g[gr][ch];
            // Windows follow each other as an encoder switches them: long or
            // start after long and stop; short, mixed or stop after start,
            // short and mixed (decoders differ on other sequences).
            static const int next[5][3] = {{0, 1, 1}, {2, 3, 4}, {2, 3, 4}, {2, 3, 4}, {0, 0, 1}};
            const int kind = next[kinds[ch]][r.mode == 1 ? shared : rnd.Below(3)];  // long, start, short, mixed, stop
            kinds[ch] = kind;
            x.switching = kind != 0;
            x.blockType = kind == 0 ? 0 : kind == 1 ? 1 : kind == 4 ? 3 : 2;
            x.mixed = kind == 3;
            for (int& s : x.subblockGain) s = rnd.Below(4);
            x.globalGain = 175 + rnd.Below(25);
            x.compress = rnd.Below(mpeg1 ? 16 : 512);
            x.preflag = mpeg1 && rnd.Below(2);
            x.scale = rnd.Below(2);
        }
    }
    if (mpeg1)
        for (int ch = 0; ch < channels; ++ch)
            for (int group = 0; group < 4; ++group)
                scfsi[ch][group] = !g[0][ch].switching && !g[1][ch].switching && rnd.Below(2);
    static const int slen1[16] = {0, 0, 0, 0, 3, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4};
    static const int slen2[16] = {0, 1, 2, 3, 0, 1, 2, 3, 1, 2, 3, 1, 2, 3, 2, 3};
    static const int counts[6][3][4] = {
        {{6, 5, 5, 5}, {9, 9, 9, 9}, {6, 9, 9, 9}},       {{6, 5, 7, 3}, {9, 9, 12, 6}, {6, 9, 12, 6}},
        {{11, 10, 0, 0}, {18, 18, 0, 0}, {15, 18, 0, 0}}, {{7, 7, 7, 0}, {12, 12, 12, 0}, {6, 15, 12, 0}},
        {{6, 6, 6, 3}, {12, 9, 9, 6}, {6, 12, 9, 6}},     {{8, 8, 5, 0}, {15, 12, 9, 0}, {6, 18, 9, 0}},
    };
    for (int gr = 0; gr < granules; ++gr)
        for (int ch = 0; ch < channels; ++ch) {
            Granule& x = g[gr][ch];
            Bits& m = x.main;
            const bool isShort = x.blockType == 2;
            if (mpeg1) {
                const int s1 = slen1[x.compress], s2 = slen2[x.compress];
                if (isShort) {
                    if (x.mixed) PutScalefactors(m, 8, s1, rnd);
                    PutScalefactors(m, (x.mixed ? 3 : 6) * 3, s1, rnd);
                    PutScalefactors(m, 6 * 3, s2, rnd);
                } else {
                    const int sizes[4] = {6, 5, 5, 5};
                    for (int group = 0; group < 4; ++group)
                        if (!(gr == 1 && scfsi[ch][group])) PutScalefactors(m, sizes[group], group < 2 ? s1 : s2, rnd);
                }
            } else {
                int c = x.compress, row, slen[4] = {0, 0, 0, 0};
                if (!(intensity && ch == 1)) {
                    if (c < 400) row = 0, slen[0] = (c >> 4) / 5, slen[1] = (c >> 4) % 5, slen[2] = (c & 15) >> 2, slen[3] = c & 3;
                    else if (c < 500) c -= 400, row = 1, slen[0] = (c >> 2) / 5, slen[1] = (c >> 2) % 5, slen[2] = c & 3;
                    else c -= 500, row = 2, slen[0] = c / 3, slen[1] = c % 3;
                } else {
                    c >>= 1;
                    if (c < 180) row = 3, slen[0] = c / 36, slen[1] = (c % 36) / 6, slen[2] = c % 6;
                    else if (c < 244) c -= 180, row = 4, slen[0] = (c & 63) >> 4, slen[1] = (c & 15) >> 2, slen[2] = c & 3;
                    else c -= 244, row = 5, slen[0] = c / 3, slen[1] = c % 3;
                }
                for (int group = 0; group < 4; ++group)
                    PutScalefactors(m, counts[row][isShort ? (x.mixed ? 2 : 1) : 0][group], slen[group], rnd, intensity && ch == 1 ? 4 : 0);
            }
            // The spectrum: quadruples of count1 table B (code 15 - index),
            // each non-zero value followed by its sign. The right channel of
            // an intensity frame stops low, leaving bands for intensity, and
            // is half zeros, so that short windows end their data in
            // different bands.
            const bool sparse = intensity && ch == 1;
            const int quads = sparse ? rnd.Below(40) : rnd.Below(145);
            for (int q = 0; q < quads; ++q) {
                const int index = sparse && rnd.Below(2) ? 0 : rnd.Below(16);
                m.Put(uint32_t(15 - index), 4);
                for (int bit = 3; bit >= 0; --bit)
                    if ((index >> bit) & 1) m.Put(uint32_t(rnd.Below(2)), 1);
            }
            x.part23 = m.Count();
        }
    Bits b;
    Header(b, r, extension, size);
    b.Put(0, mpeg1 ? 9 : 8);  // main_data_begin
    b.Put(0, mpeg1 ? (channels == 1 ? 5 : 3) : channels);
    if (mpeg1)
        for (int ch = 0; ch < channels; ++ch)
            for (int group = 0; group < 4; ++group) b.Put(uint32_t(scfsi[ch][group]), 1);
    for (int gr = 0; gr < granules; ++gr)
        for (int ch = 0; ch < channels; ++ch) {
            const Granule& x = g[gr][ch];
            b.Put(uint32_t(x.part23), 12);
            b.Put(0, 9);  // big_values
            b.Put(uint32_t(x.globalGain), 8);
            b.Put(uint32_t(x.compress), mpeg1 ? 4 : 9);
            b.Put(x.switching, 1);
            if (x.switching) {
                b.Put(uint32_t(x.blockType), 2);
                b.Put(x.mixed, 1);
                b.Put(0, 10);  // table_select
                for (int s : x.subblockGain) b.Put(uint32_t(s), 3);
            } else {
                b.Put(0, 15);  // table_select
                b.Put(uint32_t(rnd.Below(16)), 4);
                b.Put(uint32_t(rnd.Below(8)), 3);
            }
            if (mpeg1) b.Put(x.preflag, 1);
            b.Put(x.scale, 1);
            b.Put(1, 1);  // count1 table B
        }
    for (int gr = 0; gr < granules; ++gr)
        for (int ch = 0; ch < channels; ++ch) b.Append(g[gr][ch].main);
    return b.PaddedTo(size_t(size.bytes));
}

}  // namespace

namespace {

std::vector<uint8_t> Write(const StreamRecipe& recipe, bool indexed) {
    Random rnd(recipe.seed);
    int kinds[2] = {0, 0};  // each channel's last block kind
    StreamRecipe highest = recipe;
    highest.freeKbps = 0;
    std::vector<uint8_t> stream;
    for (int f = 0; f < recipe.frames; ++f) {
        const int extension = recipe.randomExtension ? rnd.Below(4) : recipe.modeExtension;
        const FrameSize size = SizeOf(recipe, f);
        std::vector<uint8_t> frame =
            recipe.layer == 1 ? Layer1Frame(recipe, extension, size, rnd) : Layer3Frame(recipe, extension, size, rnd, kinds);
        if (indexed) {
            const size_t bytes = size_t(SizeOf(highest, f).bytes);
            if (bytes < frame.size()) throw std::length_error("the free-format rate is above the highest indexed one");
            frame[2] = uint8_t(14 << 4 | (frame[2] & 0x0C));  // bit-rate index 14, no padding
            frame.resize(bytes, 0);
        }
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    return stream;
}

}  // namespace

std::vector<uint8_t> WriteStream(const StreamRecipe& recipe) { return Write(recipe, false); }

std::vector<uint8_t> WriteIndexedTwin(const StreamRecipe& recipe) { return Write(recipe, true); }

std::vector<uint8_t> WriteClippingFrames(int frames) {
    // Big values: table 16's code for (15, 15) (shared by tables 16 to 23)
    // is 00000011; table 23 adds 13 linbits to each value, then its sign.
    Bits pair;
    pair.Put(0x03, 8);
    pair.Put(0x1FFF, 13);
    pair.Put(0, 1);
    pair.Put(0x1FFF, 13);
    pair.Put(1, 1);
    std::vector<uint8_t> stream;
    for (int f = 0; f < frames; ++f) {
        Bits b;
        b.Put(0xFFFB90C4, 32);  // MPEG-1 layer III, no check word, 128 kbit/s, 44.1 kHz, mono
        b.Put(0, 9);            // main_data_begin
        b.Put(0, 5 + 4);        // private bits, scfsi
        for (int gr = 0; gr < 2; ++gr) {
            b.Put(uint32_t(pair.Count()), 12);  // part2_3_length: no scalefactor bits (compress 0)
            b.Put(1, 9);                        // big_values: one pair
            b.Put(255, 8);                      // global_gain
            b.Put(0, 4);                        // scalefac_compress
            b.Put(0, 1);                        // no window switching
            b.Put(23, 5);                       // table_select: 23 in region 0, 0 in the others
            b.Put(0, 10);
            b.Put(0, 4 + 3);                    // region counts
            b.Put(0, 3);                        // preflag, scalefac_scale, count1 table A
        }
        for (int gr = 0; gr < 2; ++gr) b.Append(pair);
        const std::vector<uint8_t> frame = b.PaddedTo(417);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    return stream;
}

}  // namespace mpeg_tests
