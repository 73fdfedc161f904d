// Big-endian bit reader (for little-endian hosts, GCC and Clang) over a byte range. Every read is bounded: bits past
// the end read as zero and set `overrun`, so a hostile length can make a
// decode wrong but never make it read outside the range.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace mpegaudio {

class BitReader {
public:
    BitReader() = default;
    BitReader(const uint8_t* data, size_t bytes) : data_(data), bytes_(bytes), limit_(uint64_t(bytes) * 8) {}

    const uint8_t* data() const { return data_; }
    size_t bytes() const { return bytes_; }
    uint64_t position() const { return pos_; }
    uint64_t limit() const { return limit_; }
    int64_t left() const { return int64_t(limit_) - int64_t(pos_); }
    bool overrun() const { return overrun_; }

    // The next `n` bits (0..32) without moving; zero bits beyond the end.
    uint32_t Peek(int n) const {
        if (n == 0) return 0;
        const uint64_t byte = pos_ >> 3;
        uint64_t window = 0;
        if (byte + 8 <= bytes_) {
            std::memcpy(&window, data_ + byte, 8);
            window = __builtin_bswap64(window);
        } else {
            for (int i = 0; i < 8; ++i) window = (window << 8) | (byte + size_t(i) < bytes_ ? data_[byte + size_t(i)] : 0u);
        }
        window <<= (pos_ & 7);
        return uint32_t(window >> (64 - n));
    }
    void Skip(int n) {
        pos_ += uint64_t(n);
        if (pos_ > limit_) overrun_ = true;
    }
    uint32_t Read(int n) {
        const uint32_t value = Peek(n);
        Skip(n);
        return value;
    }
    void SeekTo(uint64_t bit) {
        pos_ = bit;
        if (pos_ > limit_) overrun_ = true;
    }

private:
    const uint8_t* data_ = nullptr;
    size_t bytes_ = 0;
    uint64_t limit_ = 0;
    uint64_t pos_ = 0;
    bool overrun_ = false;
};

// The same bits read faster, for long runs of short codes: the next bits
// wait in a 64-bit register, topped up to at least kBitCacheHeld bits by
// Refill between codes, so a code costs a shift and no bounds check. Bytes
// past the end read as zero, as in BitReader; Peek, Skip and Read never
// take more bits than the last Refill left.
inline constexpr int kBitCacheHeld = 56;

class BitCache {
public:
    explicit BitCache(const BitReader& from) : data_(from.data()), bytes_(from.bytes()) {
        const uint64_t start = from.position();
        // A position past the end reads zeros only: start at the end.
        next_ = start >> 3 < bytes_ ? size_t(start >> 3) : bytes_;
        Refill();
        if (start >> 3 < bytes_) Skip(int(start & 7));
        else skipped_ = start - uint64_t(bytes_) * 8;
    }

    void Refill() {
        if (next_ + 8 <= bytes_) {
            // Whole bytes behind the held bits; any bits of the next byte
            // taken too are the same ones the next refill puts there.
            uint64_t word;
            std::memcpy(&word, data_ + next_, 8);
            cache_ |= __builtin_bswap64(word) >> held_;
            next_ += size_t(63 - held_) >> 3;
            held_ |= kBitCacheHeld;
            return;
        }
        for (; held_ < kBitCacheHeld; held_ += 8, ++next_)
            cache_ |= uint64_t(next_ < bytes_ ? data_[next_] : 0) << (kBitCacheHeld - held_);
    }
    // The next `n` bits (0..32).
    uint32_t Peek(int n) const { return uint32_t((cache_ >> 1) >> (63 - n)); }
    void Skip(int n) {
        cache_ <<= n;
        held_ -= n;
    }
    uint32_t Read(int n) {
        const uint32_t value = Peek(n);
        Skip(n);
        return value;
    }
    // In bits from the start of the data, as BitReader counts.
    uint64_t position() const { return uint64_t(next_) * 8 - uint64_t(held_) + skipped_; }

private:
    const uint8_t* data_;
    size_t bytes_;
    size_t next_ = 0;    // the next byte to load
    uint64_t cache_ = 0; // held bits, first bit in the top one
    int held_ = 0;
    uint64_t skipped_ = 0;  // bits past the end before the start
};

}  // namespace mpegaudio
