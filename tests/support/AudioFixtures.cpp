#include "AudioFixtures.h"

#include <algorithm>
#include <cmath>

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

}  // namespace testing_support
