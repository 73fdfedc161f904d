// The PCM routines: width conversion (also in place), volume scaling and
// both peak finders, with the format taken from the input.
#include <cstring>
#include <memory>

#include "FuzzInput.h"
#include "media/codecs/MMPCMSup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    FuzzInput in(data, size);
    // A format record with the 22 extra bytes an extensible format carries.
    std::vector<uint8_t> formatBytes(sizeof(WAVEFORMATEX) + 22);
    for (auto& b : formatBytes) b = in.U8();
    auto* format = reinterpret_cast<WAVEFORMATEX*>(formatBytes.data());
    if (format->cbSize > 22) format->cbSize = 22;
    const int32_t left = int32_t(in.U32()), right = int32_t(in.U32());
    const int widths[] = {8, 16, 24};
    const int destBits = widths[in.U8() % 3], sourceBits = widths[in.U8() % 3];
    const std::vector<uint8_t> bytes = in.Rest();
    const uint32_t count = uint32_t(bytes.size());

    std::unique_ptr<uint8_t[]> block(new uint8_t[count ? count : 1]);
    if (count) std::memcpy(block.get(), bytes.data(), count);
    std::unique_ptr<uint8_t[]> converted(new uint8_t[count * 2 + 1]);
    if (PCMConvertBits(destBits, converted.get(), sourceBits, block.get(), count) > count * 2) __builtin_trap();
    int16_t a, b, c, d;
    PCMFindPeaks(format, block.get(), count, a, b, c, d);
    PCMFindWidePeaks(format, block.get(), count, a, b, c, d);
    (void)PCMIsValidFormat(format);
    (void)PCMScaleVolume(format, block.get(), count, left, right);
    // In place, narrowing: the output is never longer than the input.
    if (destBits <= sourceBits && PCMConvertBits(destBits, block.get(), sourceBits, block.get(), count) > count)
        __builtin_trap();
    return 0;
}
