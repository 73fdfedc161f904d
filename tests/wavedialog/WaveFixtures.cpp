#include "WaveFixtures.h"

#include "support/TestSupport.h"

using testing_support::ByteWriter;

namespace wavedialog_tests {

std::vector<uint8_t> MakeImaAdpcmWave(uint32_t blocks) {
    constexpr uint16_t kBlockAlign = 256;
    constexpr uint16_t kSamplesPerBlock = (kBlockAlign - 4) * 2 + 1;
    constexpr uint32_t kRate = 22050;
    const uint32_t dataBytes = blocks * kBlockAlign;
    ByteWriter w;
    w.tag("RIFF").u32(4 + 8 + 20 + 8 + 4 + 8 + dataBytes).tag("WAVE");
    w.tag("fmt ").u32(20).u16(0x0011).u16(1).u32(kRate).u32(kRate * kBlockAlign / kSamplesPerBlock);
    w.u16(kBlockAlign).u16(4).u16(2).u16(kSamplesPerBlock);
    w.tag("fact").u32(4).u32(blocks * kSamplesPerBlock);
    w.tag("data").u32(dataBytes);
    for (uint32_t i = 0; i < dataBytes; ++i) w.u8(0);
    return w.data();
}

std::vector<uint8_t> MakeWaveWithPicture(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
    const std::vector<uint8_t> samples = AlternatingSamples16(4000, 8000);
    const uint32_t stride = (uint32_t(width) * 3 + 3) & ~3u;
    const uint32_t dibBytes = 40 + stride * uint32_t(height);
    ByteWriter dib;
    dib.u32(40).u32(uint32_t(width)).u32(uint32_t(height)).u16(1).u16(24).u32(0).u32(stride * uint32_t(height));
    dib.u32(2835).u32(2835).u32(0).u32(0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) dib.u8(b).u8(g).u8(r);
        for (uint32_t pad = uint32_t(width) * 3; pad < stride; ++pad) dib.u8(0);
    }
    ByteWriter w;
    const uint32_t dispBytes = 4 + dibBytes;
    w.tag("RIFF").u32(4 + 8 + 16 + 8 + uint32_t(samples.size()) + 8 + dispBytes + (dispBytes & 1)).tag("WAVE");
    w.tag("fmt ").u32(16).u16(1).u16(1).u32(8000).u32(16000).u16(2).u16(16);
    w.tag("data").u32(uint32_t(samples.size())).bytes(samples);
    w.tag("DISP").u32(dispBytes).u32(8).bytes(dib.data());
    if (dispBytes & 1) w.u8(0);
    return w.data();
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
