// The nibble codecs of both families, decoding and encoding, from any state
// record (step indices far out of range included) over any bytes.
#include <cstring>
#include <memory>

#include "FuzzInput.h"
#include "media/codecs/MMADPCM.h"

namespace {

using Codec = uint32_t (*)(NibbleCodecState&, uint32_t, const void*, void*) noexcept;

// Runs one routine with input and output in blocks of exactly their size.
void Run(Codec codec, NibbleCodecState state, const std::vector<uint8_t>& bytes, uint32_t outPerIn, uint32_t inPerOut) {
    const uint32_t count = uint32_t(bytes.size());
    const uint32_t outSize = outPerIn ? count * outPerIn : count / inPerOut;
    std::unique_ptr<uint8_t[]> input(new uint8_t[count ? count : 1]);
    if (count) std::memcpy(input.get(), bytes.data(), count);
    std::unique_ptr<uint8_t[]> output(new uint8_t[outSize ? outSize : 1]);
    const uint32_t written = codec(state, count, input.get(), output.get());
    if (written > outSize) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    FuzzInput in(data, size);
    NibbleCodecState state{};
    for (auto& channel : state.channel) {
        channel.code = int16_t(in.U16());
        channel.index = int16_t(in.U16());
        channel.predictor = int16_t(in.U16());
    }
    const std::vector<uint8_t> bytes = in.Rest();
    for (Codec decode : {DecodeTag3Mono, DecodeTag3Stereo, DecodeAntexMono, DecodeAntexStereo}) Run(decode, state, bytes, 4, 0);
    for (Codec encode : {EncodeTag3Mono, EncodeTag3Stereo, EncodeAntexMono, EncodeAntexStereo}) Run(encode, state, bytes, 0, 4);
    return 0;
}
