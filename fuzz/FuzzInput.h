// Taking typed values off the front of a fuzzer's input; what is left is
// the data handed to the unit under test. Reads past the end give zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t U8() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t U16() { return uint16_t(U8() | (U8() << 8)); }
    uint32_t U32() { return uint32_t(U16()) | uint32_t(U16()) << 16; }
    // The rest, in a block of exactly its size, so that any read past it is caught.
    std::vector<uint8_t> Rest() {
        std::vector<uint8_t> rest(data_ + std::min(at_, size_), data_ + size_);
        at_ = size_;
        return rest;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};
