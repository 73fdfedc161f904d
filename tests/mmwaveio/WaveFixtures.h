// A handle owner for the tests of the wave file layer.
#pragma once

#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "media/wave/MMWaveIO.h"

namespace wavefix {

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
