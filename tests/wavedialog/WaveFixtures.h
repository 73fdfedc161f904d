// Wave files for the wave chooser's tests.
#pragma once

#include <cstdint>
#include <vector>

namespace wavedialog_tests {

// IMA ADPCM (tag 0x0011), mono, 22050 Hz, 256-byte blocks of silence.
std::vector<uint8_t> MakeImaAdpcmWave(uint32_t blocks);
// A PCM wave followed by a DISP chunk holding a packed 24-bit DIB of one colour.
std::vector<uint8_t> MakeWaveWithPicture(int width, int height, uint8_t r, uint8_t g, uint8_t b);
// Mono frames alternating between +amplitude and -amplitude around the zero
// line: every block of two frames or more peaks at both.
std::vector<uint8_t> AlternatingSamples8(uint32_t frames, int amplitude);
std::vector<uint8_t> AlternatingSamples16(uint32_t frames, int amplitude);

}  // namespace wavedialog_tests
