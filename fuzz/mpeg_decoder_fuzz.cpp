// Our MPEG audio decoder on raw frames: the input after its first byte is
// walked as the library walks a stream (a frame where a header parses, else
// one byte on), every frame decoded with the whole rest of the input
// readable (so free-format frames of any length, and whole streams, are
// reached), on every output path at once (plain, SSE2, AVX2, as the
// processor has them): each path must give the same samples. The first
// byte says whether the decoder forgets its history between frames.
#include <algorithm>
#include <cstring>
#include <vector>

#include "FuzzInput.h"
#include "mpegdec/MpegDecoder.h"

using mpegaudio::DecodeResult;
using mpegaudio::SynthesisPath;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    FuzzInput in(data, size);
    const bool resetEach = (in.U8() & 0x80) != 0;
    // In a block of exactly its size: a read past the end is caught.
    const std::vector<uint8_t> bytes = in.Rest();
    std::vector<mpegaudio::MpegDecoder> decoders(3);
    std::vector<SynthesisPath> paths;
    for (SynthesisPath path : {SynthesisPath::plain, SynthesisPath::sse2, SynthesisPath::avx2}) {
        if (!mpegaudio::SynthesisPathAvailable(path)) continue;
        decoders[paths.size()].SetSynthesisPath(path);
        paths.push_back(path);
    }
    std::vector<int16_t> pcm[3];
    for (auto& p : pcm) p.resize(mpegaudio::kMaxFrameSamples * 2);
    size_t pos = 0;
    while (pos + 4 <= bytes.size()) {
        DecodeResult result[3];
        int samples[3];
        for (size_t p = 0; p < paths.size(); ++p) result[p] = decoders[p].DecodeFrame(bytes.data() + pos, bytes.size() - pos, pcm[p].data(), samples[p]);
        for (size_t p = 1; p < paths.size(); ++p) {
            if (result[p] != result[0] || samples[p] != samples[0]) __builtin_trap();
            const int values = samples[0] * decoders[0].LastHeader().channels;
            if (std::memcmp(pcm[p].data(), pcm[0].data(), size_t(values) * sizeof(int16_t)) != 0) __builtin_trap();
        }
        if (result[0] == DecodeResult::badHeader) {
            if (samples[0] != 0) __builtin_trap();
            ++pos;
            continue;
        }
        if (result[0] == DecodeResult::truncated) break;
        const mpegaudio::FrameHeader& h = decoders[0].LastHeader();
        if (samples[0] != h.samplesPerFrame || h.frameBytes <= 0 || h.frameBytes > mpegaudio::kMaxFrameBytes) __builtin_trap();
        pos += size_t(h.frameBytes);
        if (resetEach)
            for (auto& decoder : decoders) decoder.Reset();
    }
    return 0;
}
