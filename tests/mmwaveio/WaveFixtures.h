// Wave file fixtures built byte by byte, and a handle owner for the tests.
#pragma once

#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "media/wave/MMWaveIO.h"

namespace wavefix {

using testing_support::ByteWriter;

inline void Fmt(ByteWriter& w, uint16_t tag, uint16_t channels, uint32_t rate, uint32_t avg, uint16_t align,
                uint16_t bits) {
    w.tag("fmt ").u32(16).u16(tag).u16(channels).u32(rate).u32(avg).u16(align).u16(bits);
}

// RIFF header with a size patched in by Finish.
inline ByteWriter Riff() {
    ByteWriter w;
    w.tag("RIFF").u32(0).tag("WAVE");
    return w;
}
inline std::vector<uint8_t> Finish(ByteWriter& w) {
    w.patch_u32(4, uint32_t(w.size() - 8));
    return w.data();
}

struct Opened {
    PWaveIOHandle handle = nullptr;
    int code = -1;
    explicit Opened(const std::string& path) { code = WaveIOOpen(handle, path.c_str()); }
    ~Opened() {
        if (handle) WaveIOFree(handle);
    }
    WaveIOHandle* operator->() const { return handle; }
};

}  // namespace wavefix
