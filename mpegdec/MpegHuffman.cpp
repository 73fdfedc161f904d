#include "mpegdec/MpegHuffman.h"

#include <algorithm>
#include <vector>

#include "mpegdec/MpegTables.h"

namespace mpegaudio {

namespace {

constexpr int kFirstLevelBits = kHuffmanFirstLevelBits;
// Sub-tables index at most this many bits; longer codes take more levels.
constexpr int kSubLevelBits = 6;

struct Code {
    uint32_t code;
    int length;
    int value;
};

struct Book {
    int start = 0;  // index of its first-level table in the shared entries
};

class Books {
public:
    Books() {
        for (int t = 1; t < 32; ++t) {
            const HuffmanSource& source = kHuffmanSources[t];
            if (source.size == 0) continue;
            // Tables sharing a code book share the decoding table.
            if (t > 16 && t < 24) {
                books_[t] = books_[16];
                continue;
            }
            if (t > 24) {
                books_[t] = books_[24];
                continue;
            }
            std::vector<Code> codes;
            for (int x = 0; x < source.size; ++x)
                for (int y = 0; y < source.size; ++y) {
                    const int i = x * source.size + y;
                    codes.push_back({source.codes[i], source.lengths[i], x * 16 + y});
                }
            books_[t].start = Build(codes, 0, kFirstLevelBits);
        }
        std::vector<Code> a, b;
        for (int i = 0; i < 16; ++i) {
            a.push_back({kCount1ACodes[i], kCount1ALengths[i], i});
            b.push_back({uint32_t(15 - i), 4, i});
        }
        books_[32].start = Build(a, 0, kFirstLevelBits);
        books_[33].start = Build(b, 0, kFirstLevelBits);
    }

    const HuffmanEntry* Table(int table) const { return entries_.data() + books_[table].start; }
    const HuffmanEntry* Entries() const { return entries_.data(); }

private:
    // Builds the table for the codes that share their first `consumed` bits,
    // indexed by the next `bits` bits; answers its start.
    int Build(const std::vector<Code>& codes, int consumed, int bits) {
        const int start = int(entries_.size());
        // Codes that are not complete prefixes decode as 0 taking all bits.
        entries_.resize(entries_.size() + (size_t(1) << bits), HuffmanEntry{0, uint8_t(bits), 0});
        std::vector<std::vector<Code>> longer(size_t(1) << bits);
        for (const Code& c : codes) {
            const int rest = c.length - consumed;
            const uint32_t tail = c.code & ((1u << rest) - 1);
            if (rest <= bits) {
                const uint32_t first = tail << (bits - rest);
                for (uint32_t i = 0; i < (1u << (bits - rest)); ++i)
                    entries_[size_t(start) + first + i] = HuffmanEntry{int16_t(c.value), uint8_t(rest), 0};
            } else {
                longer[tail >> (rest - bits)].push_back(c);
            }
        }
        for (size_t i = 0; i < longer.size(); ++i) {
            if (longer[i].empty()) continue;
            int deepest = 0;
            for (const Code& c : longer[i]) deepest = std::max(deepest, c.length - consumed - bits);
            const int sub = Build(longer[i], consumed + bits, std::min(deepest, kSubLevelBits));
            entries_[size_t(start) + i] = HuffmanEntry{int16_t(sub), uint8_t(std::min(deepest, kSubLevelBits)), 1};
        }
        return start;
    }

    std::vector<HuffmanEntry> entries_;
    Book books_[34];
};

const Books& AllBooks() {
    static const Books books;
    return books;
}

}  // namespace

const HuffmanEntry* HuffmanTable(int table) { return AllBooks().Table(table); }
const HuffmanEntry* HuffmanEntries() { return AllBooks().Entries(); }

}  // namespace mpegaudio
