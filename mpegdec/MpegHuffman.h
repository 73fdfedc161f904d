// Decoding of the layer III Huffman code books: each book becomes a
// multi-level lookup table, built once on first use. The first look takes
// up to kHuffmanFirstLevelBits bits, enough that most codes come out whole
// there with the sign bits that follow them already applied; longer codes
// take further levels and their signs are read after.
#pragma once

#include <cstdint>

#include "mpegdec/MpegBits.h"

namespace mpegaudio {

// Wide enough for a whole quadruple (6 code bits and 4 signs) and for most
// pairs with their signs; 1024 entries of 4 bytes keep a book in a few
// cache lines' reach of the codes actually sent.
constexpr int kHuffmanFirstLevelBits = 10;

// One table entry, packed in 32 bits:
//   bits 0-4  bits to take at this level (a link: bits that index the sub-table)
//   bits 5-6  kind
//   bits 8-31 signed: x (8-15) and y (16-23) for a pair; a quadruple's
//             non-zero mask (8-11, v w x y from the top) and negative mask
//             (16-19); a link: the index of its sub-table
enum HuffmanKind : uint32_t {
    huffmanSigned = 0,     // values with their signs applied, sign bits counted
    huffmanMagnitude = 1,  // magnitudes only: linbits and signs follow
    huffmanLink = 2,
};

inline int HuffmanBits(uint32_t e) { return int(e & 31); }
inline uint32_t HuffmanKindOf(uint32_t e) { return (e >> 5) & 3; }
inline int HuffmanX(uint32_t e) { return int(int8_t(e >> 8)); }
inline int HuffmanY(uint32_t e) { return int(int8_t(e >> 16)); }
inline uint32_t HuffmanLinkIndex(uint32_t e) { return e >> 8; }

struct HuffmanBook {
    const uint32_t* first;  // the first-level table
    int firstBits;          // bits that index it
};

// Book `table` of the big values (1..31 but 4 and 14), and count1 book A
// (0) or B (1); sub-tables index into HuffmanEntries().
HuffmanBook PairBook(int table);
HuffmanBook QuadBook(int table);
const uint32_t* HuffmanEntries();

// Decodes one pair; `bits` holds at least 19 + 2 * (linbits + 1) bits (a
// Refill before each pair is enough).
inline void DecodePair(BitCache& bits, const HuffmanBook& book, int linbits, const uint32_t* entries, int& x, int& y) {
    uint32_t e = book.first[bits.Peek(book.firstBits)];
    if (HuffmanKindOf(e) == huffmanLink) {
        bits.Skip(book.firstBits);
        for (;;) {
            const uint32_t next = entries[HuffmanLinkIndex(e) + bits.Peek(HuffmanBits(e))];
            if (HuffmanKindOf(next) != huffmanLink) {
                e = next;
                break;
            }
            bits.Skip(HuffmanBits(e));
            e = next;
        }
    }
    bits.Skip(HuffmanBits(e));
    x = HuffmanX(e);
    y = HuffmanY(e);
    if (linbits && (x == 15 || y == 15)) {
        // An escape: the linbits come between a value and its sign.
        if (x == 15) x += int(bits.Read(linbits));
        if (x && bits.Read(1)) x = -x;
        if (y == 15) y += int(bits.Read(linbits));
        if (y && bits.Read(1)) y = -y;
        return;
    }
    // A sign bit follows a magnitude entry's code for each non-zero value
    // (a signed entry has taken its own). Taken without branches: the
    // signs are as good as random, and half the pairs of the wide books
    // come here.
    const int magnitude = int(HuffmanKindOf(e) == huffmanMagnitude);
    const int hasX = int(x != 0) & magnitude, hasY = int(y != 0) & magnitude;
    const int two = int(bits.Peek(2));
    const int signX = hasX & (two >> 1);
    const int signY = hasY & (two >> (1 - hasX));
    bits.Skip(hasX + hasY);
    x = (x ^ -signX) + signX;
    y = (y ^ -signY) + signY;
}

// Decodes one quadruple into v[0..3]; `bits` holds at least 10 bits.
inline void DecodeQuad(BitCache& bits, const HuffmanBook& book, int* v) {
    const uint32_t e = book.first[bits.Peek(book.firstBits)];
    bits.Skip(HuffmanBits(e));
    const uint32_t nonZero = (e >> 8) & 15, negative = (e >> 16) & 15;
    for (int k = 0; k < 4; ++k) {
        const int bit = 3 - k;
        const int magnitude = int((nonZero >> bit) & 1);
        v[k] = (negative >> bit) & 1 ? -magnitude : magnitude;
    }
}

}  // namespace mpegaudio
