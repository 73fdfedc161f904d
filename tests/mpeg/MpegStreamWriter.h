// Writes MPEG audio streams the converter's encoders never make, bit by bit
// from pseudo-random choices, for comparing decoders on them: layer I, and
// layer III with intensity stereo, mixed blocks and every block type. The
// layer III spectra use only count1 table B, whose code is four plain bits,
// so the writer needs no Huffman tables (the encoder-made fixtures cover
// those). Every frame is self-contained (main_data_begin 0).
#pragma once

#include <cstdint>
#include <vector>

namespace mpeg_tests {

struct StreamRecipe {
    int layer;            // 1 or 3
    int version;          // 1 (MPEG-1), 2 (MPEG-2) or 25 (MPEG-2.5)
    int rateIndex;        // 0..2 within the version
    int mode;             // 0 stereo, 1 joint, 3 mono
    int modeExtension;    // joint stereo: layer III bit 0 intensity, bit 1 mid/side; layer I the bound
    bool randomExtension; // a random mode extension in each frame
    uint32_t seed;
    int frames;
    int freeKbps = 0;     // free format at this rate (bit-rate index 0); 0: the highest indexed rate
};

std::vector<uint8_t> WriteStream(const StreamRecipe& recipe);

// The frames of WriteStream(recipe), a free-format stream, each headed as
// one of the highest indexed rate without padding and zero-filled to its
// size: the same audio in a stream the converter decodes (it decodes no
// free format).
std::vector<uint8_t> WriteIndexedTwin(const StreamRecipe& recipe);

// `frames` MPEG-1 layer III mono frames (128 kbit/s, 44.1 kHz, 417 bytes)
// whose granules each hold one pair of the largest escape values of table
// 23 (15 + 8191) at global gain 255: about 2^28 times full scale, so that
// the filter bank's sums reach far past 2^31 of either sign.
std::vector<uint8_t> WriteClippingFrames(int frames);

}  // namespace mpeg_tests
