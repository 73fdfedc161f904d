// Small audio helpers shared by the codec and sample tests.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>
#include <vector>

#include "media/codecs/MMADPCM.h"

namespace testing_support {

// A plain PCM format with consistent block align and byte rate.
WAVEFORMATEX PcmFormat(uint16_t channels, uint16_t bits, uint32_t rate = 44100);
// 16-bit little-endian bytes of the given sample values.
std::vector<uint8_t> Words(const std::vector<int>& samples);
// Signal-to-noise ratio of `decoded` against `reference`, in decibels.
double SnrDb(const std::vector<int>& reference, const std::vector<int>& decoded);

// A Microsoft ADPCM format with the standard pairs and as many samples per
// block as a block of that size holds.
MSADPCMWaveFormat MsAdpcmFormat(uint16_t channels, uint16_t blockAlign, uint32_t rate = 22050);
// Valid Microsoft ADPCM blocks: random codes under headers with a standard
// predictor index and a modest delta.
std::vector<uint8_t> RandomMsAdpcmBlocks(const MSADPCMWaveFormat& format, size_t blocks, unsigned seed);

// The system's codec manager's own decoding of a wave file's data (its "fmt "
// and "data" chunk bodies) to 16-bit PCM, in one conversion asked directly of
// MSACM32.DLL; empty when it has no decoder for the format.
std::vector<uint8_t> SystemCodecDecode(const std::vector<uint8_t>& fmtChunk, const std::vector<uint8_t>& data);

}  // namespace testing_support
