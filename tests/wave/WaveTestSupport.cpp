#include "WaveTestSupport.h"

#include <windows.h>

#include <chrono>

namespace wave_tests {

std::vector<uint8_t> MakeRawWave(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t byteRate, uint16_t align,
                                 uint16_t bits, const std::vector<uint8_t>& data) {
    testing_support::ByteWriter w;
    w.tag("RIFF").u32(0).tag("WAVE");
    w.tag("fmt ").u32(16).u16(tag).u16(channels).u32(rate).u32(byteRate).u16(align).u16(bits);
    w.tag("data").u32(uint32_t(data.size())).bytes(data);
    if (data.size() & 1) w.u8(0);
    w.patch_u32(4, uint32_t(w.size() - 8));
    return w.data();
}

std::vector<uint8_t> Counting(size_t count) {
    std::vector<uint8_t> out(count);
    for (size_t i = 0; i < count; ++i) out[i] = uint8_t(i % 251);
    return out;
}

bool PumpUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    }
    return true;
}

}  // namespace wave_tests
