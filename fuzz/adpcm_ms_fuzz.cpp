// Microsoft ADPCM: the format check, the format suggestion both ways and
// the block decoder, with every field of the format taken from the input.
#include <algorithm>
#include <cstring>
#include <memory>

#include "FuzzInput.h"
#include "media/codecs/MMADPCM.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    // A format record with up to 64 extra bytes, the extra bytes from the input.
    const uint8_t extraHeld = in.U8() % 65;
    std::vector<uint8_t> formatBytes(sizeof(WAVEFORMATEX) + extraHeld);
    WAVEFORMATEX source{};
    source.wFormatTag = (in.U8() & 1) ? in.U16() : kWaveFormatMSADPCM;
    source.nChannels = in.U8() % 6;
    source.nSamplesPerSec = in.U32();
    source.nAvgBytesPerSec = in.U32();
    source.nBlockAlign = in.U16();
    source.wBitsPerSample = (in.U8() & 1) ? in.U8() : 4;
    source.cbSize = std::min<uint16_t>(in.U16(), extraHeld);
    std::memcpy(formatBytes.data(), &source, sizeof source);
    for (size_t i = sizeof source; i < formatBytes.size(); ++i) formatBytes[i] = in.U8();
    const auto* format = reinterpret_cast<const WAVEFORMATEX*>(formatBytes.data());

    WAVEFORMATEX dest{};
    dest.wFormatTag = WAVE_FORMAT_PCM;
    dest.nChannels = (in.U8() & 1) ? in.U8() % 6 : source.nChannels;
    dest.wBitsPerSample = (in.U8() & 1) ? 8 : 16;
    const uint32_t roomCut = in.U8();
    const std::vector<uint8_t> blocks = in.Rest();

    (void)IsMSADPCMFormat(format);
    // The suggestion writes into exactly the room it is told of.
    for (uint32_t room : {0u, 17u, 18u, 49u, 50u}) {
        std::unique_ptr<uint8_t[]> suggestion(new uint8_t[room ? room : 1]);
        (void)ADPCMSuggestFormat(format, reinterpret_cast<WAVEFORMATEX*>(suggestion.get()), room,
                                 int(int8_t(roomCut)), int(int8_t(roomCut >> 1)), int(roomCut) * 1000);
    }

    const uint32_t needed = MSADPCMDecodedSize(format, &dest, uint32_t(blocks.size()));
    if (needed > (64u << 20)) return 0;
    // Exactly the bytes needed, or fewer: the decoder must stop at its room.
    const uint32_t room = roomCut & 1 ? needed - std::min(needed, roomCut) : needed;
    std::vector<uint8_t> output(room);
    std::unique_ptr<uint8_t[]> input(new uint8_t[blocks.size() ? blocks.size() : 1]);
    if (!blocks.empty()) std::memcpy(input.get(), blocks.data(), blocks.size());
    const uint32_t written = DecodeMSADPCM(format, &dest, input.get(), uint32_t(blocks.size()), output.data(), room);
    if (written > room) __builtin_trap();
    return 0;
}
