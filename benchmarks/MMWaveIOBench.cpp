// Reading a large PCM file start to end through the wave file layer, in the
// wave object's 32 KiB pieces, against plain ReadFile calls of the same size
// over the same file. ratio = plain time / wave layer time.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Bench.h"
#include "framework/Handles.h"
#include "media/MMWaveIO.h"

namespace {

constexpr uint32_t kFileBytes = 256u << 20;
constexpr int32_t kPiece = 32768;  // the wave object's default read size
// A system buffer of several pieces, so that refills are large reads.
constexpr int32_t kIoBuffer = 4 * kPiece;

std::string MakeFile() {
    char folder[MAX_PATH];
    ::GetTempPathA(MAX_PATH, folder);
    const std::string path = std::string(folder) + "wc_bench_wave.wav";
    wc::FileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    const uint32_t dataBytes = kFileBytes - 44;
    uint8_t header[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,
                          1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0, 'd', 'a', 't', 'a'};
    const uint32_t riffSize = kFileBytes - 8;
    for (int i = 0; i < 4; ++i) {
        header[4 + i] = uint8_t(riffSize >> (8 * i));
        header[40 + i] = uint8_t(dataBytes >> (8 * i));
    }
    DWORD done = 0;
    ::WriteFile(file.get(), header, sizeof header, &done, nullptr);
    std::vector<uint8_t> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i) block[i] = uint8_t(i * 7);
    for (uint32_t left = dataBytes; left;) {
        const DWORD n = DWORD(std::min<uint32_t>(left, uint32_t(block.size())));
        ::WriteFile(file.get(), block.data(), n, &done, nullptr);
        left -= n;
    }
    return path;
}

}  // namespace

BENCHMARK_CASE("mmwaveio_read") {
    const std::string path = MakeFile();
    std::vector<uint8_t> buffer(kPiece);
    uint64_t plainBytes = 0, waveBytes = 0;

    const double plain = bench::BestOf(9, [&] {
        wc::FileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        DWORD got = 0;
        plainBytes = 0;
        while (::ReadFile(file.get(), buffer.data(), kPiece, &got, nullptr) && got) plainBytes += got;
    });
    const double wave = bench::BestOf(9, [&] {
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
    });
    ::DeleteFileA(path.c_str());
    if (waveBytes + 44 != plainBytes) std::printf("mmwaveio_read: read %llu of %llu bytes\n",
                                                  (unsigned long long)waveBytes, (unsigned long long)plainBytes);
    bench::Report("mmwaveio_read", plain / wave, 0.9);
}
