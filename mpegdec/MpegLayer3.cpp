// Layer III: side information, the bit reservoir, scalefactors, Huffman
// decoding, requantisation, joint stereo (mid/side and intensity), the
// reordering of short blocks, the alias reduction and the inverse modified
// cosine transform with its overlap, down to subband samples.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "mpegdec/MpegBits.h"
#include "mpegdec/MpegDecoderState.h"
#include "mpegdec/MpegHuffman.h"
#include "mpegdec/MpegTables.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#endif

namespace mpegaudio {

namespace {

typedef float Vec4 __attribute__((vector_size(16)));
typedef float Vec8 __attribute__((vector_size(32)));

constexpr int kLines = 576;
// The largest magnitude a pair can carry: 15 plus 13 bits of linbits.
constexpr int kMaxMagnitude = 15 + (1 << 13) - 1;

struct Granule {
    int part23Length = 0;
    int bigValues = 0;
    int globalGain = 0;
    int scalefacCompress = 0;
    bool windowSwitching = false;
    int blockType = 0;
    bool mixed = false;
    int tableSelect[3] = {0, 0, 0};
    int subblockGain[3] = {0, 0, 0};
    int region0Count = 0;
    int region1Count = 0;
    bool preflag = false;
    int scalefacScale = 0;
    int count1Table = 0;
};

struct SideInfo {
    int mainDataBegin = 0;
    int scfsi[2][4] = {};
    Granule granules[2][2];
};

struct Scalefactors {
    int longBands[22] = {};
    int shortBands[13][3] = {};
};

struct Constants {
    float pow43[kMaxMagnitude + 1];
    float signedPow43[31];  // v^(4/3) with v's sign for v = -15..15, at v + 15
    // 2^(e/4) for e from kLowestQuarter on; the gains of a granule lie
    // between -210 - 4 * 18 - 8 * 7 and 45 (global gain 0..255, scalefactors
    // with preflag and subblock gains), intensity factors near 0.
    static constexpr int kLowestQuarter = -400, kHighestQuarter = 64;
    float quarterPowers[kHighestQuarter - kLowestQuarter + 1];
    // The inverse transform of each block type with its window folded in:
    // z = sum_k x[k] transform[type][k], over 48 columns, z[0..17] in
    // columns 0..17 (to add to the last granule's overlap) and z[18..35],
    // the next overlap, in columns 24..41, so both halves are whole
    // vectors of 4 or 8. A short block's x is in reordered order (window w's
    // line j at 3 j + w), its three 12-point transforms placed at 6 + 6 w.
    static constexpr int kTransformColumns = 48, kOverlapColumn = 24;
    alignas(32) float transform[4][18][kTransformColumns];
    // Frequency inversion: odd subbands negate their odd time slots.
    alignas(32) float oddBandSigns[kOverlapColumn];
    float aliasCs[8], aliasCa[8];
    float intensity1[7][2];  // MPEG-1 intensity ratios for positions 0..6: left, right
    Constants() {
        const double pi = std::acos(-1.0);
        for (int i = 0; i <= kMaxMagnitude; ++i) pow43[i] = float(std::pow(double(i), 4.0 / 3.0));
        for (int v = -15; v <= 15; ++v) signedPow43[v + 15] = v < 0 ? -pow43[-v] : pow43[v];
        for (int e = kLowestQuarter; e <= kHighestQuarter; ++e) quarterPowers[e - kLowestQuarter] = float(std::pow(2.0, e / 4.0));
        double window[4][36];
        for (int i = 0; i < 36; ++i) window[0][i] = std::sin(pi / 36 * (i + 0.5));
        for (int i = 0; i < 36; ++i) {
            // Start and stop windows join the long window to the short ones.
            window[1][i] = i < 18 ? window[0][i] : i < 24 ? 1.0 : i < 30 ? std::sin(pi / 12 * (i - 18 + 0.5)) : 0.0;
            window[3][i] = i < 6 ? 0.0 : i < 12 ? std::sin(pi / 12 * (i - 6 + 0.5)) : i < 18 ? 1.0 : window[0][i];
            window[2][i] = 0.0;
        }
        auto column = [](int i) { return i < 18 ? i : kOverlapColumn + i - 18; };
        for (auto& type : transform)
            for (auto& row : type)
                for (float& x : row) x = 0.0f;
        for (int type = 0; type < 4; ++type) {
            if (type == 2) continue;
            for (int k = 0; k < 18; ++k)
                for (int i = 0; i < 36; ++i)
                    transform[type][k][column(i)] = float(window[type][i] * std::cos(pi / 72 * (2 * i + 1 + 18) * (2 * k + 1)));
        }
        for (int w = 0; w < 3; ++w)
            for (int j = 0; j < 6; ++j)
                for (int i = 0; i < 12; ++i)
                    transform[2][3 * j + w][column(6 + 6 * w + i)] =
                        float(std::cos(pi / 24 * (2 * i + 1 + 6) * (2 * j + 1)) * std::sin(pi / 12 * (i + 0.5)));
        for (int t = 0; t < kOverlapColumn; ++t) oddBandSigns[t] = t & 1 ? -1.0f : 1.0f;
        const double c[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};
        for (int i = 0; i < 8; ++i) {
            const double root = std::sqrt(1.0 + c[i] * c[i]);
            aliasCs[i] = float(1.0 / root);
            aliasCa[i] = float(c[i] / root);
        }
        for (int p = 0; p < 7; ++p) {
            if (p == 6) {
                intensity1[p][0] = 1.0f;
                intensity1[p][1] = 0.0f;
                continue;
            }
            const double ratio = std::tan(p * pi / 12);
            intensity1[p][0] = float(ratio / (1 + ratio));
            intensity1[p][1] = float(1 / (1 + ratio));
        }
    }
};

const Constants& K() {
    static const Constants constants;
    return constants;
}

// Where a mixed block's long scalefactor bands (0..7 in MPEG-1, 0..5 in
// MPEG-2 and 2.5) end and its short ones (from 3) begin: line 36, but 72 at
// 8 kHz, whose bands are twice as wide. Only subbands 0 and 1 take the long
// transform all the same.
inline int MixedLongEnd(const BandTable& bands) { return bands.shortEdges[3] * 3; }

// 2^(exponent / 4).
inline float QuarterPower(int exponent) {
    if (exponent < Constants::kLowestQuarter) return 0.0f;  // far below 16-bit resolution
    if (exponent > Constants::kHighestQuarter) exponent = Constants::kHighestQuarter;
    return K().quarterPowers[exponent - Constants::kLowestQuarter];
}

bool ReadSideInfo(BitReader& bits, const FrameHeader& h, SideInfo& side) {
    const bool mpeg1 = h.version == MpegVersion::mpeg1;
    const int channels = h.channels;
    side.mainDataBegin = int(bits.Read(mpeg1 ? 9 : 8));
    bits.Skip(mpeg1 ? (channels == 1 ? 5 : 3) : (channels == 1 ? 1 : 2));
    if (mpeg1)
        for (int ch = 0; ch < channels; ++ch)
            for (int b = 0; b < 4; ++b) side.scfsi[ch][b] = int(bits.Read(1));
    const int granules = mpeg1 ? 2 : 1;
    for (int gr = 0; gr < granules; ++gr)
        for (int ch = 0; ch < channels; ++ch) {
            Granule& g = side.granules[gr][ch];
            g.part23Length = int(bits.Read(12));
            g.bigValues = int(bits.Read(9));
            g.globalGain = int(bits.Read(8));
            g.scalefacCompress = int(bits.Read(mpeg1 ? 4 : 9));
            g.windowSwitching = bits.Read(1) != 0;
            if (g.windowSwitching) {
                g.blockType = int(bits.Read(2));
                g.mixed = bits.Read(1) != 0;
                for (int r = 0; r < 2; ++r) g.tableSelect[r] = int(bits.Read(5));
                for (int w = 0; w < 3; ++w) g.subblockGain[w] = int(bits.Read(3));
                // Block type 0 never comes with window switching.
                if (g.blockType == 0) return false;
                g.region0Count = g.blockType == 2 && !g.mixed ? 8 : 7;
                g.region1Count = 36;
            } else {
                for (int r = 0; r < 3; ++r) g.tableSelect[r] = int(bits.Read(5));
                g.region0Count = int(bits.Read(4));
                g.region1Count = int(bits.Read(3));
            }
            g.preflag = mpeg1 ? bits.Read(1) != 0 : false;
            g.scalefacScale = int(bits.Read(1));
            g.count1Table = int(bits.Read(1));
            if (g.bigValues > kLines / 2) return false;
        }
    return !bits.overrun();
}

// MPEG-1 scalefactors; those of the first granule stay in `sf` for the
// second granule's shared bands.
void ReadScalefactors1(BitReader& bits, const Granule& g, const int* scfsi, int gr, Scalefactors& sf) {
    static const uint8_t slen1[16] = {0, 0, 0, 0, 3, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4};
    static const uint8_t slen2[16] = {0, 1, 2, 3, 0, 1, 2, 3, 1, 2, 3, 1, 2, 3, 2, 3};
    const int s1 = slen1[g.scalefacCompress], s2 = slen2[g.scalefacCompress];
    if (g.windowSwitching && g.blockType == 2) {
        int first = 0;
        if (g.mixed) {
            for (int sfb = 0; sfb < 8; ++sfb) sf.longBands[sfb] = int(bits.Read(s1));
            first = 3;
        }
        for (int sfb = first; sfb < 12; ++sfb)
            for (int w = 0; w < 3; ++w) sf.shortBands[sfb][w] = int(bits.Read(sfb < 6 ? s1 : s2));
        for (int w = 0; w < 3; ++w) sf.shortBands[12][w] = 0;
        return;
    }
    static const int groupEdges[5] = {0, 6, 11, 16, 21};
    for (int group = 0; group < 4; ++group) {
        if (gr == 1 && scfsi[group]) continue;
        for (int sfb = groupEdges[group]; sfb < groupEdges[group + 1]; ++sfb)
            sf.longBands[sfb] = int(bits.Read(group < 2 ? s1 : s2));
    }
    sf.longBands[21] = 0;
}

// MPEG-2 and 2.5 scalefactors. `intensityRight`: the right channel of an
// intensity stereo frame, whose scalefactors are coded differently.
// Answers the intensity scale bit (right channel) and sets the preflag.
void ReadScalefactors2(BitReader& bits, Granule& g, bool intensityRight, Scalefactors& sf) {
    static const uint8_t counts[6][3][4] = {
        {{6, 5, 5, 5}, {9, 9, 9, 9}, {6, 9, 9, 9}},       {{6, 5, 7, 3}, {9, 9, 12, 6}, {6, 9, 12, 6}},
        {{11, 10, 0, 0}, {18, 18, 0, 0}, {15, 18, 0, 0}}, {{7, 7, 7, 0}, {12, 12, 12, 0}, {6, 15, 12, 0}},
        {{6, 6, 6, 3}, {12, 9, 9, 6}, {6, 12, 9, 6}},     {{8, 8, 5, 0}, {15, 12, 9, 0}, {6, 18, 9, 0}},
    };
    int slen[4] = {0, 0, 0, 0};
    int row = 0;
    int c = g.scalefacCompress;
    if (!intensityRight) {
        if (c < 400) {
            slen[0] = (c >> 4) / 5, slen[1] = (c >> 4) % 5, slen[2] = (c & 15) >> 2, slen[3] = c & 3;
            row = 0;
        } else if (c < 500) {
            c -= 400;
            slen[0] = (c >> 2) / 5, slen[1] = (c >> 2) % 5, slen[2] = c & 3;
            row = 1;
        } else {
            c -= 500;
            slen[0] = c / 3, slen[1] = c % 3;
            row = 2;
            g.preflag = true;
        }
    } else {
        c >>= 1;
        if (c < 180) {
            slen[0] = c / 36, slen[1] = (c % 36) / 6, slen[2] = (c % 36) % 6;
            row = 3;
        } else if (c < 244) {
            c -= 180;
            slen[0] = (c & 63) >> 4, slen[1] = (c & 15) >> 2, slen[2] = c & 3;
            row = 4;
        } else {
            c -= 244;
            slen[0] = c / 3, slen[1] = c % 3;
            row = 5;
        }
    }
    const bool isShort = g.windowSwitching && g.blockType == 2;
    const int kind = isShort ? (g.mixed ? 2 : 1) : 0;
    // The values in order, then placed: long bands, or the long bands of a
    // mixed block (6) followed by short bands from 3, window by window.
    int values[39];
    int n = 0;
    for (int group = 0; group < 4; ++group)
        for (int i = 0; i < counts[row][kind][group]; ++i) values[n++] = int(bits.Read(slen[group]));
    for (int& x : sf.longBands) x = 0;
    for (auto& band : sf.shortBands)
        for (int& x : band) x = 0;
    int i = 0;
    if (!isShort) {
        for (int sfb = 0; sfb < 21 && i < n; ++sfb, ++i) sf.longBands[sfb] = values[i];
        return;
    }
    int sfb = 0;
    if (g.mixed) {
        for (; sfb < 6 && i < n; ++sfb, ++i) sf.longBands[sfb] = values[i];
        sfb = 3;
    }
    for (; sfb < 12; ++sfb)
        for (int w = 0; w < 3 && i < n; ++w, ++i) sf.shortBands[sfb][w] = values[i];
}

// Huffman-decodes one granule's spectrum up to bit `end` into xr
// (bitstream order) as |v|^(4/3) with v's sign, ready for the gains;
// answers a count of lines, all of them written, above which every line
// read is zero (the count1 region's trailing zero quadruples are left out,
// for the stages after to skip; the caller zeroes the rest).
int ReadSpectrum(BitReader& reader, const Granule& g, const BandTable& bands, uint64_t end, float* xr, DecoderCoverage& coverage) {
    const Constants& k = K();
    // |v|^(4/3) with v's sign; values within the signed entries' reach come from a short table.
    auto power = [&](int v) {
        if (v >= -15 && v <= 15) return k.signedPow43[v + 15];
        const float m = k.pow43[v < 0 ? -v : v];
        return v < 0 ? -m : m;
    };

    const int bigEnd = std::min(g.bigValues * 2, kLines);
    int region1, region2;
    if (g.windowSwitching) {
        region1 = g.blockType == 2 && !g.mixed ? bands.shortEdges[3] * 3 : bands.longEdges[8];
        region2 = kLines;
    } else {
        region1 = bands.longEdges[std::min(g.region0Count + 1, 22)];
        region2 = bands.longEdges[std::min(g.region0Count + g.region1Count + 2, 22)];
    }
    const uint32_t* entries = HuffmanEntries();
    BitCache bits(reader);
    int i = 0;
    for (int region = 0; region < 3 && i < bigEnd; ++region) {
        const int regionEnd = std::min(region == 0 ? region1 : region == 1 ? region2 : kLines, bigEnd);
        const int table = g.tableSelect[region];
        if (kHuffmanSources[table].size == 0) {
            // Tables 0, 4 and 14: all zero (4 and 14 are not used; read as zero).
            for (; i < regionEnd; ++i) xr[i] = 0.0f;
            continue;
        }
        coverage.huffmanTables |= 1u << table;
        const int linbits = kLinbits[table];
        const HuffmanBook book = PairBook(table);
        // A pair takes at most 19 code bits and two times 13 linbits and a sign.
        static_assert(19 + 2 * (13 + 1) <= kBitCacheHeld);
        if (linbits == 0) {
            // Values up to 15: all from the short table.
            for (; i < regionEnd; i += 2) {
                bits.Refill();
                int x, y;
                DecodePair(bits, book, 0, entries, x, y);
                xr[i] = k.signedPow43[x + 15];
                xr[i + 1] = k.signedPow43[y + 15];
            }
            continue;
        }
        for (; i < regionEnd; i += 2) {
            bits.Refill();
            int x, y;
            DecodePair(bits, book, linbits, entries, x, y);
            xr[i] = power(x);
            xr[i + 1] = power(y);
        }
    }
    // A stream that lies about its lengths stops here; what was read stands.
    if (bits.position() > end) {
        reader.SeekTo(bits.position());
        return i;
    }
    const HuffmanBook count1Book = QuadBook(g.count1Table);
    // The all-zero quadruple is a code of ones alone (1 bit in book A, 4 in
    // B), so a run of them is counted, not decoded one by one.
    const int zeroBits = g.count1Table ? 4 : 1;
    if (bits.position() < end) coverage.count1Tables |= 1u << g.count1Table;
    // Zero quadruples are written only once a non-zero one follows them.
    int written = i;
    while (i + 4 <= kLines && bits.position() < end) {
        bits.Refill();
        const int ones = std::countl_one(bits.Peek(32));
        if (ones >= zeroBits) {
            const int quads = std::min({ones / zeroBits, int(end - bits.position()) / zeroBits, (kLines - i) / 4});
            if (quads > 0) {
                bits.Skip(quads * zeroBits);
                i += 4 * quads;
                continue;
            }
        }
        int v[4];
        DecodeQuad(bits, count1Book, v);
        // A quadruple that runs past the granule's bits is padding.
        if (bits.position() > end) break;
        if (v[0] | v[1] | v[2] | v[3]) {
            std::fill(xr + written, xr + i, 0.0f);
            for (int q = 0; q < 4; ++q) xr[i + q] = float(v[q]);
            written = i + 4;
        }
        i += 4;
    }
    reader.SeekTo(bits.position());
    return written;
}

// Requantises the `count` lines ReadSpectrum left in xr (bitstream order)
// with their bands' gains; answers the count of lines that may be non-zero.
int Requantise(const Granule& g, const Scalefactors& sf, const BandTable& bands, int count, float* xr) {
    const int shift = g.scalefacScale ? 2 : 1;  // scalefactor steps in quarter powers of two: 2 or 4
    std::fill(xr + count, xr + kLines, 0.0f);
    auto scaleRun = [&](int from, int to, int exponent) {
        const float gain = QuarterPower(exponent);
        to = std::min(to, count);
        for (int i = from; i < to; ++i) xr[i] *= gain;
    };
    const int base = g.globalGain - 210;
    const bool isShort = g.windowSwitching && g.blockType == 2;
    int line = 0;
    int firstShort = 0;
    if (!isShort || g.mixed) {
        for (int sfb = 0; sfb < 22 && line < count; ++sfb) {
            const int end = bands.longEdges[sfb + 1];
            if (isShort && end > MixedLongEnd(bands)) break;
            const int scale = sf.longBands[sfb] + (g.preflag ? kPretab[sfb] : 0);
            scaleRun(bands.longEdges[sfb], end, base - (scale << shift));
            line = end;
        }
        if (!isShort) return count;
        firstShort = 3;
    }
    for (int sfb = firstShort; sfb < 13 && line < count; ++sfb) {
        const int width = bands.shortEdges[sfb + 1] - bands.shortEdges[sfb];
        for (int w = 0; w < 3; ++w) {
            const int exponent = base - 8 * g.subblockGain[w] - (sf.shortBands[sfb][w] << shift);
            scaleRun(line, line + width, exponent);
            line += width;
        }
    }
    return count;
}

// Joint stereo of one granule: mid/side and intensity, on bitstream order.
void JointStereo(const FrameHeader& h, const Granule& right, const Scalefactors& rightSf, int intensityScale, const BandTable& bands,
                 float* l, float* r, int* counts) {
    const bool ms = (h.modeExtension & 2) != 0;
    const bool intensity = (h.modeExtension & 1) != 0;
    const bool mpeg1 = h.version == MpegVersion::mpeg1;
    const float root = float(1.0 / std::sqrt(2.0));
    const int count = std::max(counts[0], counts[1]);
    auto midSide = [&](int from, int to) {
        to = std::min(to, count);
        for (int i = from; i < to; ++i) {
            const float m = l[i], s = r[i];
            l[i] = (m + s) * root;
            r[i] = (m - s) * root;
        }
    };
    // Positions run 0..6 in MPEG-1 (7 and the larger values a 4-bit
    // scalefactor can hold are no position) and 0..15 in MPEG-2 and 2.5.
    // The converter takes every MPEG-2 value below 16 as a position, the
    // largest value of the scalefactor's width too, and 16 to 31 (5-bit
    // scalefactors) as none; we decode as it does.
    const int positions = mpeg1 ? 7 : 16;
    // One band of intensity stereo at position `pos`.
    auto band = [&](int from, int to, int pos) {
        if (pos >= positions) {
            if (ms) midSide(from, to);
            return;
        }
        float kl, kr;
        if (mpeg1) {
            kl = K().intensity1[pos][0];
            kr = K().intensity1[pos][1];
        } else {
            // Positions step by 2^-1/4 (scale 0) or 2^-1/2 (scale 1), on the
            // left for odd positions, on the right for even ones.
            const int steps = (pos + 1) / 2;
            const float f = QuarterPower(-steps * (intensityScale ? 2 : 1));
            kl = pos & 1 ? f : 1.0f;
            kr = pos & 1 ? 1.0f : f;
            if (pos == 0) kl = kr = 1.0f;
        }
        for (int i = from; i < to; ++i) {
            const float x = l[i];
            l[i] = x * kl;
            r[i] = x * kr;
        }
    };
    if (!intensity) {
        if (ms) midSide(0, count);
        return;
    }
    const int rightCount = counts[1];
    const bool isShort = right.windowSwitching && right.blockType == 2;
    auto nonZero = [&](int from, int to) {
        for (int i = from; i < std::min(to, rightCount); ++i)
            if (r[i] != 0.0f) return true;
        return false;
    };
    int line = 0;
    bool shortHasData = false;
    int firstShort = 0;
    if (isShort) {
        firstShort = right.mixed ? 3 : 0;
        int start = right.mixed ? MixedLongEnd(bands) : 0;
        for (int sfb = firstShort; sfb < 13; ++sfb) {
            const int width = bands.shortEdges[sfb + 1] - bands.shortEdges[sfb];
            if (nonZero(start, start + 3 * width)) shortHasData = true;
            start += 3 * width;
        }
    }
    if (!isShort || right.mixed) {
        // Long bands: intensity above the last band with right-channel data.
        int longBands = 22;
        if (isShort) longBands = 0;
        if (isShort)
            while (longBands < 22 && bands.longEdges[longBands + 1] <= MixedLongEnd(bands)) ++longBands;
        int first = 0;
        for (int sfb = 0; sfb < longBands; ++sfb)
            if (nonZero(bands.longEdges[sfb], bands.longEdges[sfb + 1])) first = sfb + 1;
        if (isShort && shortHasData) first = longBands;
        for (int sfb = 0; sfb < longBands; ++sfb) {
            const int from = bands.longEdges[sfb], to = bands.longEdges[sfb + 1];
            if (sfb < first) {
                if (ms) midSide(from, to);
                continue;
            }
            // The top band sends no scalefactor: it takes the band below's position.
            band(from, to, rightSf.longBands[sfb == 21 ? 20 : sfb]);
        }
        line = bands.longEdges[longBands];
        if (!isShort) return;
    }
    // Short bands, each window on its own.
    int first[3] = {firstShort, firstShort, firstShort};
    {
        int start = line;
        for (int sfb = firstShort; sfb < 13; ++sfb) {
            const int width = bands.shortEdges[sfb + 1] - bands.shortEdges[sfb];
            for (int w = 0; w < 3; ++w)
                if (nonZero(start + w * width, start + (w + 1) * width)) first[w] = sfb + 1;
            start += 3 * width;
        }
    }
    for (int sfb = firstShort; sfb < 13; ++sfb) {
        const int width = bands.shortEdges[sfb + 1] - bands.shortEdges[sfb];
        for (int w = 0; w < 3; ++w) {
            const int from = line + w * width, to = from + width;
            if (sfb < first[w]) {
                if (ms) midSide(from, to);
                continue;
            }
            band(from, to, rightSf.shortBands[sfb == 12 ? 11 : sfb][w]);
        }
        line += 3 * width;
    }
}

// Short bands from `firstSfb` on go from band, window, line order to line,
// window order: within each subband, window w's six lines at 3 k + w.
void Reorder(const BandTable& bands, int firstSfb, float* xr) {
    float out[kLines];
    const int start = bands.shortEdges[firstSfb] * 3;
    int line = start;
    for (int sfb = firstSfb; sfb < 13; ++sfb) {
        const int from = bands.shortEdges[sfb], width = bands.shortEdges[sfb + 1] - from;
        for (int w = 0; w < 3; ++w)
            for (int f = 0; f < width; ++f) out[3 * (from + f) + w] = xr[line++];
    }
    std::memcpy(xr + start, out + start, sizeof(float) * size_t(kLines - start));
}

// The lines that may be non-zero once the boundaries next to `count`
// non-zero lines are reduced: each boundary reaches 8 lines above itself.
int AliasReach(int count) {
    const int boundaries = std::min(31, (count + 17) / 18);
    return std::max(count, boundaries ? 18 * boundaries + 8 : 0);
}

void AliasReduce(float* xr, int boundaries) {
    const Constants& k = K();
    // The eight lines each side of a boundary as two vectors; the lines
    // below pair with those above in mirror order.
    Vec4 cs[2], ca[2];
    std::memcpy(cs, k.aliasCs, sizeof cs);
    std::memcpy(ca, k.aliasCa, sizeof ca);
    for (int sb = 1; sb <= boundaries; ++sb) {
        float* hi = xr + 18 * sb;
        float* lo = hi - 8;
        Vec4 below[2], above[2];
        std::memcpy(below, lo, sizeof below);
        std::memcpy(above, hi, sizeof above);
        // a[i] = hi[-1 - i], b[i] = hi[i].
        const Vec4 a[2] = {__builtin_shufflevector(below[1], below[1], 3, 2, 1, 0), __builtin_shufflevector(below[0], below[0], 3, 2, 1, 0)};
        for (int h = 0; h < 2; ++h) {
            const Vec4 newA = a[h] * cs[h] - above[h] * ca[h];
            above[h] = above[h] * cs[h] + a[h] * ca[h];
            below[1 - h] = __builtin_shufflevector(newA, newA, 3, 2, 1, 0);
        }
        std::memcpy(lo, below, sizeof below);
        std::memcpy(hi, above, sizeof above);
    }
}

// Which of a subband's 18 lines are non-zero, a bit per line, for the
// `active` subbands of xr. The plain path asks line by line; the vector
// paths compare four lines at once.
void NonZeroLinesPlain(const float* xr, int active, uint32_t* lines) {
    for (int sb = 0; sb < active; ++sb) {
        uint32_t bits = 0;
        for (int j = 0; j < 18; ++j) bits |= uint32_t(xr[18 * sb + j] != 0.0f) << j;
        lines[sb] = bits;
    }
}

#if defined(__i386__) || defined(__x86_64__)
__attribute__((target("sse2"), always_inline)) inline void NonZeroLinesSse2(const float* xr, int active, uint32_t* lines) {
    const __m128 zero = _mm_setzero_ps();
    for (int sb = 0; sb < active; ++sb) {
        const float* x = xr + 18 * sb;
        uint32_t bits = uint32_t(x[16] != 0.0f) << 16 | uint32_t(x[17] != 0.0f) << 17;
        for (int q = 0; q < 4; ++q) bits |= uint32_t(_mm_movemask_ps(_mm_cmpneq_ps(_mm_loadu_ps(x + 4 * q), zero))) << (4 * q);
        lines[sb] = bits;
    }
}
#endif

// Sums the transform's rows for the non-zero `lines` of x, line by line in
// rising order (every path adds in the same order), into z: `count`
// vectors of columns from `column` on, and with `halves` 2 as many again
// from the overlap's column on.
template <typename V, int count, int halves>
__attribute__((always_inline)) inline void SumRows(const float* x, uint32_t lines, const float (*transform)[Constants::kTransformColumns],
                                                   int column, V* z) {
    constexpr int kWidth = int(sizeof(V) / sizeof(float));
#pragma GCC unroll 12
    for (int c = 0; c < halves * count; ++c) z[c] = V{};
    for (; lines; lines &= lines - 1) {
        const int j = std::countr_zero(lines);
        const float v = x[j];
#pragma GCC unroll 12
        for (int c = 0; c < halves * count; ++c) {
            V row;
            std::memcpy(&row, transform[j] + column + (c / count) * Constants::kOverlapColumn + (c % count) * kWidth, sizeof row);
            z[c] += v * row;
        }
    }
}

// One subband of the inverse transform: z from the non-zero `lines` of its
// 18 lines x, z[0..17] plus the overlap out to its 18 time slots, z[18..35]
// kept as the next overlap. V is a vector of 4 or 8 floats; only the
// vectors that hold those 36 columns are summed (the layout's padding
// columns are zero). `twoPasses`: the time slots' columns first, then the
// overlap's, so that the sums of a 32-bit build's SSE2 path stay in its
// eight registers.
template <typename V, bool twoPasses>
__attribute__((always_inline)) inline void TransformBand(const float* x, uint32_t lines, const float (*transform)[Constants::kTransformColumns],
                                                         bool odd, float* overlap, float* out) {
    constexpr int kWidth = int(sizeof(V) / sizeof(float));
    constexpr int kVectors = (18 + kWidth - 1) / kWidth;  // per half: 5 of 4 or 3 of 8
    constexpr int kOverlap = Constants::kOverlapColumn;
    V z[twoPasses ? kVectors : 2 * kVectors];
    SumRows<V, kVectors, twoPasses ? 1 : 2>(x, lines, transform, 0, z);
#pragma GCC unroll 6
    for (int c = 0; c < kVectors; ++c) {
        V o;
        std::memcpy(&o, overlap + c * kWidth, sizeof o);
        o += z[c];
        if (odd) {
            V signs;
            std::memcpy(&signs, K().oddBandSigns + c * kWidth, sizeof signs);
            o *= signs;
        }
        // Only 18 of the columns are time slots.
        const int slots = std::min(kWidth, 18 - c * kWidth);
        if (slots == kWidth) {
            std::memcpy(out + c * kWidth, &o, sizeof o);
        } else {
            for (int t = 0; t < slots; ++t) out[c * kWidth + t] = o[t];
        }
    }
    if constexpr (twoPasses) SumRows<V, kVectors, 1>(x, lines, transform, kOverlap, z);
    const V* next = twoPasses ? z : z + kVectors;
#pragma GCC unroll 6
    for (int c = 0; c < kVectors; ++c) std::memcpy(overlap + c * kWidth, &next[c], sizeof(V));
}

template <typename V, bool twoPasses>
__attribute__((always_inline)) inline void TransformBands(const Granule& g, const float* xr, const uint32_t* lines, int active, int bandsToRun,
                                                          float (*overlap)[24], float (*subbands)[36], int first) {
    const Constants& k = K();
    for (int sb = 0; sb < 32; ++sb) {
        float* out = subbands[sb] + first;
        if (sb >= bandsToRun) {
            for (int t = 0; t < 18; ++t) out[t] = 0.0f;
            continue;
        }
        if (sb >= active) {
            // No data: only the overlap of the last granule comes out.
            TransformBand<V, twoPasses>(nullptr, 0, k.transform[0], sb & 1, overlap[sb], out);
            continue;
        }
        const int type = g.mixed && sb < 2 ? 0 : g.windowSwitching ? g.blockType : 0;
        TransformBand<V, twoPasses>(xr + 18 * sb, lines[sb], k.transform[type], sb & 1, overlap[sb], out);
    }
}

void TransformBandsPlain(const Granule& g, const float* xr, int active, int bandsToRun, float (*overlap)[24], float (*subbands)[36], int first) {
    uint32_t lines[32];
    NonZeroLinesPlain(xr, active, lines);
    TransformBands<Vec4, false>(g, xr, lines, active, bandsToRun, overlap, subbands, first);
}

#if defined(__i386__) || defined(__x86_64__)
// Eight vector registers in a 32-bit build: ten sums would spill.
constexpr bool kSse2TwoPasses = sizeof(void*) == 4;

__attribute__((target("sse2"), force_align_arg_pointer)) void TransformBandsSse2(const Granule& g, const float* xr, int active, int bandsToRun,
                                                                               float (*overlap)[24], float (*subbands)[36], int first) {
    uint32_t lines[32];
    NonZeroLinesSse2(xr, active, lines);
    TransformBands<Vec4, kSse2TwoPasses>(g, xr, lines, active, bandsToRun, overlap, subbands, first);
}

__attribute__((target("avx2"), force_align_arg_pointer)) void TransformBandsAvx2(const Granule& g, const float* xr, int active,
                                                                                   int bandsToRun, float (*overlap)[24], float (*subbands)[36],
                                                                                   int first) {
    uint32_t lines[32];
    NonZeroLinesSse2(xr, active, lines);
    TransformBands<Vec8, false>(g, xr, lines, active, bandsToRun, overlap, subbands, first);
}
#endif

// The inverse transform, overlap and frequency inversion of one granule of
// one channel into 18 time slots of `subbands` (from slot `first`).
// `lines`: xr is zero from there on.
void Hybrid(DecoderState& state, int ch, const Granule& g, const float* xr, int lines, float (*subbands)[36], int first) {
    int last = std::min(lines, kLines) - 1;
    while (last >= 0 && xr[last] == 0.0f) --last;
    const int active = (last + 18) / 18;  // subbands with data
    const int bandsToRun = std::max(active, state.overlapBands[ch]);
    float (*overlap)[24] = state.overlap[ch];
#if defined(__i386__) || defined(__x86_64__)
    if (state.vectorPath == SynthesisPath::avx2) {
        TransformBandsAvx2(g, xr, active, bandsToRun, overlap, subbands, first);
    } else if (state.vectorPath == SynthesisPath::sse2) {
        TransformBandsSse2(g, xr, active, bandsToRun, overlap, subbands, first);
    } else
#endif
    {
        TransformBandsPlain(g, xr, active, bandsToRun, overlap, subbands, first);
    }
    state.overlapBands[ch] = active;
}

}  // namespace

DecodeResult DecodeLayer3(DecoderState& state, const uint8_t* data, int size, int& slots) {
    const FrameHeader& h = state.header;
    const bool mpeg1 = h.version == MpegVersion::mpeg1;
    const int channels = h.channels;
    const int granules = mpeg1 ? 2 : 1;
    slots = 18 * granules;
    const int sideBytes = mpeg1 ? (channels == 1 ? 17 : 32) : (channels == 1 ? 9 : 17);
    if (size < sideBytes) return DecodeResult::truncated;
    BitReader sideBits(data, size_t(sideBytes));
    SideInfo side;
    const bool sideOk = ReadSideInfo(sideBits, h, side);

    // This frame's main data joins the reservoir whatever happens, for the
    // frames after it.
    const uint8_t* main = data + sideBytes;
    const int mainSize = size - sideBytes;
    const int available = state.reservoirSize;
    uint8_t buffer[kReservoirBytes + kMaxFrameBytes];
    const int back = side.mainDataBegin;
    const bool haveData = sideOk && back <= available;
    int bufferSize = 0;
    if (haveData) {
        std::memcpy(buffer, state.reservoir + (available - back), size_t(back));
        std::memcpy(buffer + back, main, size_t(mainSize));
        bufferSize = back + mainSize;
    }
    {
        // Keep the newest bytes; main_data_begin reaches back 511 at most.
        constexpr int keep = 511;
        const int total = available + mainSize;
        if (mainSize >= keep) {
            std::memcpy(state.reservoir, main + (mainSize - keep), keep);
            state.reservoirSize = keep;
        } else if (total <= keep) {
            std::memcpy(state.reservoir + available, main, size_t(mainSize));
            state.reservoirSize = total;
        } else {
            const int drop = total - keep;
            std::memmove(state.reservoir, state.reservoir + drop, size_t(available - drop));
            std::memcpy(state.reservoir + (available - drop), main, size_t(mainSize));
            state.reservoirSize = keep;
        }
    }
    if (!sideOk || !haveData) {
        std::memset(state.subbands, 0, sizeof state.subbands);
        return sideOk ? DecodeResult::missingData : DecodeResult::badSideInfo;
    }

    const BandTable& bands = kBands[int(h.version) * 3 + h.sampleRateIndex];
    BitReader bits(buffer, size_t(bufferSize));
    Scalefactors sf[2];
    alignas(16) float xr[2][kLines];
    const bool intensity = h.mode == 1 && (h.modeExtension & 1);
    for (int gr = 0; gr < granules; ++gr) {
        int counts[2] = {0, 0};
        int intensityScale = 0;
        for (int ch = 0; ch < channels; ++ch) {
            Granule& g = side.granules[gr][ch];
            const uint64_t start = bits.position();
            const uint64_t end = start + uint64_t(g.part23Length);
            if (mpeg1) {
                ReadScalefactors1(bits, g, side.scfsi[ch], gr, sf[ch]);
            } else {
                ReadScalefactors2(bits, g, intensity && ch == 1, sf[ch]);
                if (intensity && ch == 1) intensityScale = g.scalefacCompress & 1;
            }
            int count = 0;
            if (bits.position() <= end) count = ReadSpectrum(bits, g, bands, end, xr[ch], state.coverage);
            state.coverage.blockTypes |= (1u << g.blockType) | (g.mixed ? 16u : 0u);
            counts[ch] = Requantise(g, sf[ch], bands, count, xr[ch]);
            bits.SeekTo(end);
        }
        if (h.mode == 1 && channels == 2) {
            state.coverage.stereo |= uint32_t(h.modeExtension) << 4;
            JointStereo(h, side.granules[gr][1], sf[1], intensityScale, bands, xr[0], xr[1], counts);
            counts[0] = counts[1] = std::max(counts[0], counts[1]);
        }
        for (int ch = 0; ch < channels; ++ch) {
            const Granule& g = side.granules[gr][ch];
            const bool isShort = g.windowSwitching && g.blockType == 2;
            if (isShort) {
                Reorder(bands, g.mixed ? 3 : 0, xr[ch]);
                if (g.mixed) AliasReduce(xr[ch], 1);
                // The converter starts the last six slots of a subband with
                // short windows afresh: what the block before left there (a
                // long transform: the long part of a mixed block) is dropped.
                for (int sb = g.mixed ? 2 : 0; sb < 32; ++sb) std::fill(state.overlap[ch][sb] + 12, state.overlap[ch][sb] + 18, 0.0f);
            } else {
                // Only boundaries next to lines that may be non-zero.
                AliasReduce(xr[ch], std::min(31, (counts[ch] + 17) / 18));
            }
            Hybrid(state, ch, g, xr[ch], isShort ? kLines : AliasReach(counts[ch]), state.subbands[ch], 18 * gr);
        }
    }
    return DecodeResult::ok;
}

}  // namespace mpegaudio
