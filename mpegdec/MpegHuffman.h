// Decoding of the layer III Huffman code books: each book becomes a
// multi-level lookup table (a first look at 8 bits, further levels for the
// longer codes), built once on first use.
#pragma once

#include <cstdint>

#include "mpegdec/MpegBits.h"

namespace mpegaudio {

struct HuffmanEntry {
    int16_t value;  // a leaf: the decoded value; a link: the index of its sub-table
    uint8_t bits;   // a leaf: bits the code takes at this level; a link: bits that index the sub-table
    uint8_t link;   // 1 for a link
};

constexpr int kHuffmanFirstLevelBits = 8;

// The first-level table of book `table` (1..31 but 4 and 14; 32 and 33 are
// the count1 books A and B), and the storage all sub-tables index into.
const HuffmanEntry* HuffmanTable(int table);
const HuffmanEntry* HuffmanEntries();

// Decodes one value: x * 16 + y for pairs, v * 8 + w * 4 + x * 2 + y for
// quadruples.
inline int DecodeHuffman(BitReader& bits, const HuffmanEntry* table, const HuffmanEntry* entries) {
    HuffmanEntry e = table[bits.Peek(kHuffmanFirstLevelBits)];
    if (!e.link) {
        bits.Skip(e.bits);
        return e.value;
    }
    bits.Skip(kHuffmanFirstLevelBits);
    for (;;) {
        const HuffmanEntry next = entries[size_t(e.value) + bits.Peek(e.bits)];
        if (!next.link) {
            bits.Skip(next.bits);
            return next.value;
        }
        bits.Skip(e.bits);
        e = next;
    }
}

}  // namespace mpegaudio
