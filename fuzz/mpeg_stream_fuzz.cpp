// The MPEG stream parser over any bytes: the audio area (ID3 tags, a RIFF
// WAVE wrapper, trailing bytes), the information frame and the frame index.
// Every indexed frame must lie inside the audio area and be no larger than
// the largest frame a header can give.
#include <cstdlib>

#include "FuzzInput.h"
#include "mpegdec/MpegStream.h"

using namespace mpegdec;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    FuzzInput input(data, size);
    const uint32_t offset = input.U8();
    const uint32_t trailing = input.U16();
    const std::vector<uint8_t> file = input.Rest();
    StreamLayout layout;
    if (FindLayout(file, offset, trailing, layout) != LayoutResult::Ok) return 0;
    if (layout.AudioStart > layout.AudioEnd || layout.AudioEnd > file.size()) std::abort();
    const FrameIndex index = BuildIndex(file, layout);
    if (index.Offsets.size() != index.Sizes.size()) std::abort();
    uint64_t bytes = 0;
    for (size_t i = 0; i < index.Offsets.size(); ++i) {
        if (index.Offsets[i] < layout.AudioStart || index.Offsets[i] + uint64_t(index.Sizes[i]) > layout.AudioEnd) std::abort();
        if (index.Sizes[i] < 4 || index.Sizes[i] > kMaxFrameBytes) std::abort();
        if (i > 0 && index.Offsets[i] < index.Offsets[i - 1] + index.Sizes[i - 1]) std::abort();
        bytes += index.Sizes[i];
    }
    if (bytes != index.AudioBytes) std::abort();
    return 0;
}
