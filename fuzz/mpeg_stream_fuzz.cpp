// The MPEG stream parser over any bytes: the audio area (ID3 tags, a RIFF
// WAVE wrapper, trailing bytes), the information frame and the frame index.
// Every indexed frame must lie inside the audio area, be a frame of the
// stream no larger than the largest frame a header can give, and an index
// grown in steps must equal one grown at once.
#include <cstdlib>

#include "FuzzInput.h"
#include "mpegdec/MpegStream.h"

using namespace mpegdec;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    FuzzInput input(data, size);
    const uint32_t offset = input.U8();
    const uint32_t trailing = input.U16();
    const size_t step = 1 + input.U8() % 16;
    const std::vector<uint8_t> file = input.Rest();
    MemorySource source(file);
    StreamLayout layout;
    if (FindLayout(source, offset, trailing, layout) != LayoutResult::Ok) return 0;
    if (layout.AudioStart > layout.AudioEnd || layout.AudioEnd > file.size()) std::abort();
    FrameIndex whole;
    whole.Reset(layout);
    if (!whole.Extend(source, SIZE_MAX) || !whole.Complete()) std::abort();
    uint64_t bytes = 0;
    for (size_t i = 0; i < whole.Count(); ++i) {
        const uint64_t at = whole.Offset(i), frame = whole.Size(i);
        if (at < layout.AudioStart || at + frame > layout.AudioEnd) std::abort();
        if (frame < 4 || frame > kMaxFrameBytes) std::abort();
        if (i > 0 && at < whole.Offset(i - 1) + whole.Size(i - 1)) std::abort();
        // A frame of the stream stands where the index puts it.
        FrameHeader header;
        if (ParseHeader(&file[at], header, whole.First.FreeBytes) != HeaderResult::Ok || !header.SameStream(whole.First) ||
            header.FrameBytes() != frame)
            std::abort();
        bytes += frame;
    }
    if (bytes != whole.AudioBytes) std::abort();
    FrameIndex steps;
    steps.Reset(layout);
    for (size_t count = step; !steps.Complete(); count += step)
        if (!steps.Extend(source, count)) std::abort();
    if (steps.Count() != whole.Count()) std::abort();
    for (size_t i = 0; i < whole.Count(); ++i)
        if (steps.Offset(i) != whole.Offset(i) || steps.Size(i) != whole.Size(i)) std::abort();
    return 0;
}
