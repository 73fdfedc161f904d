#include "WaveSources.h"

#include "support/TestSupport.h"

namespace app_test {

std::vector<uint8_t> MakeWave(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                              const std::vector<uint8_t>& data, uint16_t subTag) {
    const uint16_t blockAlign = uint16_t(channels * ((bits + 7) / 8));
    testing_support::ByteWriter fmt;
    fmt.u16(subTag ? kTagExtensible : tag).u16(channels).u32(rate).u32(rate * blockAlign).u16(blockAlign).u16(bits);
    if (subTag) {
        // cbSize, valid bits, channel mask, then the sub-format GUID
        // {tag-0000-0010-8000-00AA00389B71}.
        fmt.u16(22).u16(bits).u32((1u << channels) - 1).u32(subTag).u16(0x0000).u16(0x0010);
        for (uint8_t b : {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}) fmt.u8(b);
    } else if (tag != kTagPcm) {
        fmt.u16(0);
    }
    testing_support::ByteWriter w;
    const size_t padded = data.size() + (data.size() & 1);
    w.tag("RIFF").u32(uint32_t(4 + 8 + fmt.size() + 8 + padded)).tag("WAVE");
    w.tag("fmt ").u32(uint32_t(fmt.size())).bytes(fmt.data());
    w.tag("data").u32(uint32_t(data.size())).bytes(data);
    if (data.size() & 1) w.u8(0);
    return w.data();
}

std::vector<uint8_t> PatternBytes(size_t count, uint32_t seed) {
    std::vector<uint8_t> out(count);
    for (auto& b : out) {
        seed = seed * 1664525u + 1013904223u;
        b = uint8_t(seed >> 24);
    }
    return out;
}

unsigned U16At(const std::vector<uint8_t>& bytes, size_t at) {
    return at + 2 <= bytes.size() ? unsigned(bytes[at] | bytes[at + 1] << 8) : 0;
}

unsigned long U32At(const std::vector<uint8_t>& bytes, size_t at) {
    return at + 4 <= bytes.size() ? (unsigned long)(U16At(bytes, at)) | (unsigned long)(U16At(bytes, at + 2)) << 16
                                  : 0;
}

std::vector<uint8_t> ChunkOf(const std::vector<uint8_t>& file, const std::string& id) {
    if (file.size() < 12 || std::string(file.begin(), file.begin() + 4) != "RIFF" ||
        std::string(file.begin() + 8, file.begin() + 12) != "WAVE")
        return {};
    size_t at = 12;
    while (at + 8 <= file.size()) {
        const unsigned long size = U32At(file, at + 4);
        const size_t body = at + 8;
        const size_t end = body + size > file.size() ? file.size() : body + size;
        if (std::string(file.begin() + at, file.begin() + at + 4) == id)
            return std::vector<uint8_t>(file.begin() + body, file.begin() + end);
        at = body + size + (size & 1);
    }
    return {};
}

}  // namespace app_test
