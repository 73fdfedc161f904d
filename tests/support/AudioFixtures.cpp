#include "AudioFixtures.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

namespace testing_support {

WAVEFORMATEX PcmFormat(uint16_t channels, uint16_t bits, uint32_t rate) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = uint16_t(channels * bits / 8);
    f.nAvgBytesPerSec = f.nBlockAlign * rate;
    return f;
}

std::vector<uint8_t> Words(const std::vector<int>& samples) {
    std::vector<uint8_t> bytes;
    bytes.reserve(samples.size() * 2);
    for (int s : samples) {
        bytes.push_back(uint8_t(s));
        bytes.push_back(uint8_t(uint16_t(s) >> 8));
    }
    return bytes;
}

double SnrDb(const std::vector<int>& reference, const std::vector<int>& decoded) {
    double signal = 0, noise = 0;
    const size_t n = std::min(reference.size(), decoded.size());
    for (size_t i = 0; i < n; ++i) {
        signal += double(reference[i]) * reference[i];
        noise += double(reference[i] - decoded[i]) * (reference[i] - decoded[i]);
    }
    return 10 * std::log10(signal / std::max(noise, 1.0));
}

MSADPCMWaveFormat MsAdpcmFormat(uint16_t channels, uint16_t blockAlign, uint32_t rate) {
    MSADPCMWaveFormat f{};
    f.wfx.wFormatTag = 2;
    f.wfx.nChannels = channels;
    f.wfx.nSamplesPerSec = rate;
    f.wfx.nBlockAlign = blockAlign;
    f.wfx.wBitsPerSample = 4;
    f.wfx.cbSize = 32;
    f.samplesPerBlock = uint16_t((blockAlign - 7 * channels) * 2 / channels + 2);
    f.wfx.nAvgBytesPerSec = uint32_t(uint64_t(rate) * blockAlign / f.samplesPerBlock);
    f.numCoef = 7;
    std::memcpy(f.coef, MSADPCMCoefficients, sizeof f.coef);
    return f;
}

std::vector<uint8_t> RandomMsAdpcmBlocks(const MSADPCMWaveFormat& format, size_t blocks, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> data(size_t(format.wfx.nBlockAlign) * blocks);
    for (auto& b : data) b = uint8_t(random());
    const size_t channels = format.wfx.nChannels;
    for (size_t i = 0; i < blocks; ++i) {
        uint8_t* block = data.data() + i * format.wfx.nBlockAlign;
        for (size_t c = 0; c < channels; ++c) {
            block[c] = uint8_t(random() % 7);
            block[channels + 2 * c] = uint8_t(16 + random() % 200);
            block[channels + 2 * c + 1] = 0;
        }
    }
    return data;
}

}  // namespace testing_support
