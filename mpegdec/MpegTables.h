// Constant tables of MPEG audio decoding: rates, scalefactor bands, the
// layer III Huffman codes, the layer II allocation tables and the synthesis
// window. Tables derived from these (decoding trees, powers, cosines) are
// built once, on first use, in the files that use them.
#pragma once

#include <cstdint>

namespace mpegaudio {

// Bit rates in kbit/s by [MPEG-1 ? 0 : 1][layer - 1][index]; index 0 is
// free format (the stream's frame length gives the rate), 15 is refused by
// the header parser. Sample rates in Hz by
// [version][index]. Both constant expressions, so that the largest frame
// can be checked when the stream parser is compiled.
inline constexpr int16_t kBitrates[2][3][15] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
};

inline constexpr int32_t kSampleRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

// Scalefactor band edges, in spectral lines, by sample rate (version * 3 +
// rate index): 22 long bands (23 edges) and 13 short bands (14 edges, per
// window).
struct BandTable {
    int16_t longEdges[23];
    int16_t shortEdges[14];
};
extern const BandTable kBands[9];
// Added to the long scalefactors when preflag is set.
extern const uint8_t kPretab[22];

// One layer III Huffman code book as sent: the code and its length for each
// pair (x, y), in the order x * size + y.
struct HuffmanSource {
    const uint16_t* codes;
    const uint8_t* lengths;
    int size;  // values per axis
};
// By table number 0..31 (0, 4 and 14 have no code book: size 0).
extern const HuffmanSource kHuffmanSources[32];
extern const uint8_t kLinbits[32];
// Count1 table A (table B is four plain bits, inverted), by v*8+w*4+x*2+y.
extern const uint8_t kCount1ACodes[16];
extern const uint8_t kCount1ALengths[16];

// The synthesis window's first half (index 0..256) in units of 2^-16; the
// window is symmetric about 256 and its sign flips in every second block
// of 64 (see MpegSynthesis.cpp).
extern const int32_t kSynthesisWindowHalf[257];

// Layer II: a quantisation class (see the table in MpegTables.cpp).
struct QuantClass {
    int32_t steps;  // quantisation levels
    uint8_t bits;   // bits per sample, or per group of three when grouped
    bool grouped;
};
extern const QuantClass kQuantClasses[17];

// One kind of layer II subband: the allocation field width and the class
// for each allocation value (-1 for none).
struct AllocationRow {
    uint8_t width;
    int8_t classes[16];
};
extern const AllocationRow kAllocationRows[8];
// One layer II allocation table: its subbands and each one's row kind.
struct AllocationTable {
    int subbands;
    uint8_t rows[30];
};
// 0..3: the four MPEG-1 tables (27, 30, 8 and 12 subbands); 4: MPEG-2 and 2.5.
extern const AllocationTable kAllocationTables[5];

}  // namespace mpegaudio
