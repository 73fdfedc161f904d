// Wave files of every sample kind the cleaning job handles, written byte by
// byte here, and the chunks of a written file read back without the wave
// file layer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace app_test {

constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagFloat = 3;
constexpr uint16_t kTagExtensible = 0xFFFE;

// A RIFF WAVE file with a plain "fmt " chunk (16 bytes for PCM, 18 with a
// zero cbSize otherwise) and the data. With `subTag` the format is
// WAVE_FORMAT_EXTENSIBLE (40-byte "fmt ") with that tag-based sub-format,
// all bits valid and the first `channels` speaker positions.
std::vector<uint8_t> MakeWave(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                              const std::vector<uint8_t>& data, uint16_t subTag = 0);

// Deterministic bytes: a linear congruential sequence from `seed`.
std::vector<uint8_t> PatternBytes(size_t count, uint32_t seed);

// The body of the first chunk `id` after "WAVE"; empty when there is none.
std::vector<uint8_t> ChunkOf(const std::vector<uint8_t>& file, const std::string& id);

// Little-endian fields of a chunk body.
unsigned U16At(const std::vector<uint8_t>& bytes, size_t at);
unsigned long U32At(const std::vector<uint8_t>& bytes, size_t at);

}  // namespace app_test
