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

}  // namespace mpegaudio
