// Our MPEG audio decoder on raw frames: the input after its first byte is
// walked as the library walks a stream (a frame where a header parses, else
// one byte on), every frame decoded. The first byte picks the synthesis
// path and whether the decoder forgets its history between frames.
#include <algorithm>
#include <vector>

#include "FuzzInput.h"
#include "mpegdec/MpegDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    FuzzInput in(data, size);
    const uint8_t control = in.U8();
    const std::vector<uint8_t> bytes = in.Rest();
    mpegaudio::MpegDecoder decoder;
    const mpegaudio::SynthesisPath paths[] = {mpegaudio::SynthesisPath::plain, mpegaudio::SynthesisPath::sse2,
                                            mpegaudio::SynthesisPath::avx2};
    const mpegaudio::SynthesisPath path = paths[control % 3];
    if (mpegaudio::SynthesisPathAvailable(path)) decoder.SetSynthesisPath(path);
    const bool resetEach = (control & 0x80) != 0;
    std::vector<int16_t> pcm(mpegaudio::kMaxFrameSamples * 2);
    size_t pos = 0;
    while (pos + 4 <= bytes.size()) {
        // Exactly the rest (no frame is longer than kMaxFrameBytes), in a
        // block of its own so that a read past its end is caught.
        const size_t take = std::min(bytes.size() - pos, size_t(mpegaudio::kMaxFrameBytes));
        std::vector<uint8_t> rest(bytes.begin() + std::ptrdiff_t(pos), bytes.begin() + std::ptrdiff_t(pos + take));
        int samples = -1;
        const mpegaudio::DecodeResult result = decoder.DecodeFrame(rest.data(), rest.size(), pcm.data(), samples);
        if (result == mpegaudio::DecodeResult::badHeader) {
            if (samples != 0) __builtin_trap();
            ++pos;
            continue;
        }
        if (result == mpegaudio::DecodeResult::truncated) break;
        const mpegaudio::FrameHeader& h = decoder.LastHeader();
        if (samples != h.samplesPerFrame || h.frameBytes <= 0 || h.frameBytes > mpegaudio::kMaxFrameBytes) __builtin_trap();
        pos += size_t(h.frameBytes);
        if (resetEach) decoder.Reset();
    }
    return 0;
}
