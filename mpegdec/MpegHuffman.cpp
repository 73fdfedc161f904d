#include "mpegdec/MpegHuffman.h"

#include <algorithm>
#include <vector>

#include "mpegdec/MpegTables.h"

namespace mpegaudio {

namespace {

// Sub-tables index at most this many bits; longer codes take more levels.
constexpr int kSubLevelBits = 6;

struct Code {
    uint32_t code;
    int length;
    int x, y;  // a pair; a quadruple keeps v w x y as four bits in x
};

uint32_t Entry(int bits, HuffmanKind kind, uint32_t payload) { return uint32_t(bits) | uint32_t(kind) << 5 | payload << 8; }
uint32_t PairPayload(int x, int y) { return uint32_t(uint8_t(int8_t(x))) | uint32_t(uint8_t(int8_t(y))) << 8; }

class Books {
public:
    Books() {
        for (int t = 1; t < 32; ++t) {
            const HuffmanSource& source = kHuffmanSources[t];
            if (source.size == 0) continue;
            // Tables sharing a code book share the decoding table.
            if (t > 16 && t < 24) {
                pairs_[t] = pairs_[16];
                continue;
            }
            if (t > 24) {
                pairs_[t] = pairs_[24];
                continue;
            }
            std::vector<Code> codes;
            int longest = 0;
            for (int x = 0; x < source.size; ++x)
                for (int y = 0; y < source.size; ++y) {
                    const int i = x * source.size + y;
                    codes.push_back({source.codes[i], source.lengths[i], x, y});
                    longest = std::max(longest, int(source.lengths[i]));
                }
            // A small book needs no more bits than its longest code and two signs.
            const int first = std::min(kHuffmanFirstLevelBits, longest + 2);
            pairs_[t] = {BuildFirst(codes, first, kLinbits[t] != 0, false), first};
        }
        std::vector<Code> a, b;
        for (int i = 0; i < 16; ++i) {
            a.push_back({kCount1ACodes[i], kCount1ALengths[i], i, 0});
            b.push_back({uint32_t(15 - i), 4, i, 0});
        }
        quads_[0] = {BuildFirst(a, kHuffmanFirstLevelBits, false, true), kHuffmanFirstLevelBits};
        quads_[1] = {BuildFirst(b, 8, false, true), 8};
    }

    HuffmanBook Pair(int table) const { return {entries_.data() + pairs_[table].start, pairs_[table].bits}; }
    HuffmanBook Quad(int table) const { return {entries_.data() + quads_[table].start, quads_[table].bits}; }
    const uint32_t* Entries() const { return entries_.data(); }

private:
    struct Start {
        int start = 0;
        int bits = 0;
    };

    // The first-level table over `bits` bits. A code that leaves room for
    // its sign bits (and needs no linbits: an escape value 15 in a book
    // with linbits) fills each of its entries with the signed values those
    // following bits give; the others carry magnitudes, or a link for codes
    // longer than `bits`.
    int BuildFirst(const std::vector<Code>& codes, int bits, bool linbits, bool quads) {
        const int start = int(entries_.size());
        // Codes that are not complete prefixes decode as 0 taking all bits.
        entries_.resize(entries_.size() + (size_t(1) << bits), Entry(bits, huffmanSigned, 0));
        std::vector<Code> longer;
        for (const Code& c : codes) {
            if (c.length > bits) {
                longer.push_back(c);
                continue;
            }
            const int spare = bits - c.length;
            const uint32_t first = c.code << spare;
            // The values that take a sign bit, in the order the signs come.
            int signed_[4], count = 0;
            if (quads) {
                for (int k = 3; k >= 0; --k)
                    if ((c.x >> k) & 1) signed_[count++] = k;
            } else {
                if (c.x) signed_[count++] = 0;
                if (c.y) signed_[count++] = 1;
            }
            const bool escape = linbits && (c.x == 15 || c.y == 15);
            for (uint32_t i = 0; i < (1u << spare); ++i) {
                uint32_t& e = entries_[size_t(start) + first + i];
                if (escape || count > spare) {
                    e = Entry(c.length, huffmanMagnitude, PairPayload(c.x, c.y));
                    continue;
                }
                uint32_t negative = 0;
                for (int s = 0; s < count; ++s)
                    if ((i >> (spare - 1 - s)) & 1) negative |= 1u << signed_[s];
                if (quads) {
                    e = Entry(c.length + count, huffmanSigned, uint32_t(c.x) | negative << 8);
                } else {
                    e = Entry(c.length + count, huffmanSigned,
                              PairPayload(negative & 1 ? -c.x : c.x, negative & 2 ? -c.y : c.y));
                }
            }
        }
        Link(longer, 0, bits, start);
        return start;
    }

    // Sub-tables for the codes longer than the `bits` bits that `table`
    // indexes, `consumed` bits having been taken before it.
    void Link(const std::vector<Code>& codes, int consumed, int bits, int table) {
        std::vector<std::vector<Code>> longer(size_t(1) << bits);
        for (const Code& c : codes) {
            const int rest = c.length - consumed;
            longer[(c.code & ((1u << rest) - 1)) >> (rest - bits)].push_back(c);
        }
        for (size_t i = 0; i < longer.size(); ++i) {
            if (longer[i].empty()) continue;
            int deepest = 0;
            for (const Code& c : longer[i]) deepest = std::max(deepest, c.length - consumed - bits);
            const int subBits = std::min(deepest, kSubLevelBits);
            const int sub = BuildSub(longer[i], consumed + bits, subBits);
            entries_[size_t(table) + i] = Entry(subBits, huffmanLink, uint32_t(sub));
        }
    }

    // A sub-table: magnitudes only, the signs are read after.
    int BuildSub(const std::vector<Code>& codes, int consumed, int bits) {
        const int start = int(entries_.size());
        entries_.resize(entries_.size() + (size_t(1) << bits), Entry(bits, huffmanMagnitude, 0));
        std::vector<Code> longer;
        for (const Code& c : codes) {
            const int rest = c.length - consumed;
            if (rest > bits) {
                longer.push_back(c);
                continue;
            }
            const uint32_t first = (c.code & ((1u << rest) - 1)) << (bits - rest);
            for (uint32_t i = 0; i < (1u << (bits - rest)); ++i)
                entries_[size_t(start) + first + i] = Entry(rest, huffmanMagnitude, PairPayload(c.x, c.y));
        }
        Link(longer, consumed, bits, start);
        return start;
    }

    std::vector<uint32_t> entries_;
    Start pairs_[32];
    Start quads_[2];
};

const Books& AllBooks() {
    static const Books books;
    return books;
}

}  // namespace

HuffmanBook PairBook(int table) { return AllBooks().Pair(table); }
HuffmanBook QuadBook(int table) { return AllBooks().Quad(table); }
const uint32_t* HuffmanEntries() { return AllBooks().Entries(); }

}  // namespace mpegaudio
