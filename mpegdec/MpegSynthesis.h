// The polyphase synthesis filter bank: 32 subband samples in, 32 PCM
// samples out per step, one history per channel. The matrixing and the
// windowing run on SSE2 vectors, or AVX2 ones where the processor has them
// (chosen once at run time), with a plain path for processors without SSE2.
// Every path makes the same products and sums in the same order, each
// rounded to single precision (no fused multiply-add: the AVX2 code is
// built without it, so the compiler cannot fuse either), so every path
// gives the same samples (the plain path in a build whose float arithmetic
// is SSE2's, as every 64-bit one is).
#pragma once

#include <cstdint>

namespace mpegaudio {

enum class SynthesisPath { plain, sse2, avx2 };

// Whether this processor can run `path`, and the fastest path it can run.
bool SynthesisPathAvailable(SynthesisPath path);
SynthesisPath FastestSynthesisPath();

class Synthesis {
public:
    Synthesis();
    void Reset();
    // Forgets one channel's history.
    void ResetChannel(int channel);
    // Forces a path (tests and benchmarks compare them); the default is the fastest.
    void SetPath(SynthesisPath path) { path_ = path; }

    // Runs `slots` steps of channel `channel` (0 or 1): subbands[sb *
    // bandStride + t] in, 16-bit samples out at pcm[t * 32 * stride + i *
    // stride], rounded to the nearest and clipped. Full scale is 1.0.
    void Run(int channel, const float* subbands, int bandStride, int slots, int16_t* pcm, int stride);

    // Interleaves two channels' output on the same path: out[2i] = left[i],
    // out[2i + 1] = right[i], i < count.
    void Interleave(const int16_t* left, const int16_t* right, int count, int16_t* out) const;

    // Steps of V kept, newest at newest_: a step reads the last 16, and the
    // vector paths make two steps' V before they read.
    static constexpr int kHistory = 32;

private:
    // Each step is kept twice, at its place in the ring and kHistory steps
    // further on, so that the 16 steps from any place lie in a row: the
    // windowing reads them at fixed distances from one pointer instead of
    // computing (and, short of registers, reloading) one pointer per step.
    alignas(32) float history_[2][2 * kHistory][64];
    int newest_[2];
    SynthesisPath path_;
};

}  // namespace mpegaudio
