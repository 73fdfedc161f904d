// Small audio helpers shared by the codec and sample tests.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>
#include <vector>

namespace testing_support {

// A plain PCM format with consistent block align and byte rate.
WAVEFORMATEX PcmFormat(uint16_t channels, uint16_t bits, uint32_t rate = 44100);
// 16-bit little-endian bytes of the given sample values.
std::vector<uint8_t> Words(const std::vector<int>& samples);
// Signal-to-noise ratio of `decoded` against `reference`, in decibels.
double SnrDb(const std::vector<int>& reference, const std::vector<int>& decoded);

}  // namespace testing_support
