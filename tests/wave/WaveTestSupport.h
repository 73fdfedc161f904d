// Wave files for the wave object tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace wave_tests {

// A RIFF WAVE file with the given raw "fmt " fields (a corrupt format when
// the rates or the alignment are 0) and data bytes.
std::vector<uint8_t> MakeRawWave(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t byteRate, uint16_t align,
                                 uint16_t bits, const std::vector<uint8_t>& data);

// Bytes 0, 1, 2, ... (mod 251) so any misplaced block shows.
std::vector<uint8_t> Counting(size_t count);

// Runs the main thread's message loop until `done` or 10 s pass.
bool PumpUntil(const std::function<bool()>& done);

}  // namespace wave_tests
