#include "WaveFixtures.h"

#include "support/TestSupport.h"

using testing_support::ByteWriter;

namespace wavedialog_tests {

std::vector<uint8_t> MakeImaAdpcmWave(uint32_t blocks) {
    constexpr uint16_t kBlockAlign = 256;
    constexpr uint16_t kSamplesPerBlock = (kBlockAlign - 4) * 2 + 1;
    constexpr uint32_t kRate = 22050;
    ByteWriter fmt, fact;
    fmt.bytes(testing_support::FormatFields(0x0011, 1, kRate, kRate * kBlockAlign / kSamplesPerBlock, kBlockAlign, 4));
    fmt.u16(2).u16(kSamplesPerBlock);
    fact.u32(blocks * kSamplesPerBlock);
    ByteWriter w = testing_support::StartWaveForm();
    w.chunk("fmt ", fmt.data()).chunk("fact", fact.data()).chunk("data", std::vector<uint8_t>(blocks * kBlockAlign));
    return testing_support::EndWaveForm(w);
}

std::vector<uint8_t> MakeWaveWithPicture(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
    const std::vector<uint8_t> samples = AlternatingSamples16(4000, 8000);
    const uint32_t stride = (uint32_t(width) * 3 + 3) & ~3u;
    ByteWriter disp;  // the DISP type (8: a DIB), then the DIB
    disp.u32(8).u32(40).u32(uint32_t(width)).u32(uint32_t(height)).u16(1).u16(24).u32(0).u32(stride * uint32_t(height));
    disp.u32(2835).u32(2835).u32(0).u32(0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) disp.u8(b).u8(g).u8(r);
        for (uint32_t pad = uint32_t(width) * 3; pad < stride; ++pad) disp.u8(0);
    }
    ByteWriter w = testing_support::StartWaveForm();
    w.chunk("fmt ", testing_support::FormatFields(1, 1, 8000, 16000, 2, 16)).chunk("data", samples);
    w.chunk("DISP", disp.data());
    return testing_support::EndWaveForm(w);
}

std::vector<uint8_t> AlternatingSamples8(uint32_t frames, int amplitude) {
    std::vector<uint8_t> out;
    for (uint32_t i = 0; i < frames; ++i) out.push_back(uint8_t(128 + ((i & 1) ? -amplitude : amplitude)));
    return out;
}

std::vector<uint8_t> AlternatingSamples16(uint32_t frames, int amplitude) {
    std::vector<uint8_t> out;
    for (uint32_t i = 0; i < frames; ++i) {
        const auto v = uint16_t(int16_t((i & 1) ? -amplitude : amplitude));
        out.push_back(uint8_t(v));
        out.push_back(uint8_t(v >> 8));
    }
    return out;
}

}  // namespace wavedialog_tests
