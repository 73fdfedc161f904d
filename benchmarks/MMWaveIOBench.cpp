// Reading a large PCM file start to end through the wave file layer, in the
// wave object's 32 KiB pieces, against plain ReadFile calls of the same size
// over the same file. ratio = plain time / wave layer time.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "Bench.h"
#include "framework/Handles.h"
#include "media/wave/MMWaveIO.h"

namespace {

constexpr uint32_t kFileBytes = 256u << 20;
constexpr int32_t kPiece = 32768;  // the wave object's default read size
// A system buffer of several pieces, so that refills are large reads.
constexpr int32_t kIoBuffer = 4 * kPiece;

std::string MakeFile() {
    return bench::MakePcmWaveFile("wc_bench_wave.wav", kFileBytes, [](size_t i) { return uint8_t(i * 7); });
}

}  // namespace

BENCHMARK_CASE("mmwaveio_read") {
    const std::string path = MakeFile();
    std::vector<uint8_t> buffer(kPiece);
    uint64_t plainBytes = 0, waveBytes = 0;

    const auto plainRun = [&] {
        wc::FileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        DWORD got = 0;
        plainBytes = 0;
        while (::ReadFile(file.get(), buffer.data(), kPiece, &got, nullptr) && got) plainBytes += got;
    };
    const auto waveRun = [&] {
        PWaveIOHandle h = nullptr;
        waveBytes = 0;
        if (WaveIOOpen(h, path.c_str()) != 0) return;
        if (WaveIOBeginAccess(h) == 0) {
            WaveIOSetBuffer(h, kIoBuffer);
            int32_t got;
            while ((got = WaveIORead(h, buffer.data(), kPiece)) > 0) waveBytes += uint32_t(got);
        }
        WaveIOEndAccess(h);
        WaveIOFree(h);
    };
    // The two alternate, so that a busy spell of the machine falls on both
    // alike; each keeps its best time.
    double plain = 1e300, wave = 1e300;
    for (int i = 0; i < 9; ++i) {
        plain = std::min(plain, bench::BestOf(1, plainRun));
        wave = std::min(wave, bench::BestOf(1, waveRun));
    }
    ::DeleteFileA(path.c_str());
    if (waveBytes + 44 != plainBytes) std::printf("mmwaveio_read: read %llu of %llu bytes\n",
                                                  (unsigned long long)waveBytes, (unsigned long long)plainBytes);
    bench::Report("mmwaveio_read", plain / wave, 0.95);
}
