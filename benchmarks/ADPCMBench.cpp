// DecodeMSADPCM over ten minutes of 44.1 kHz stereo made by ffmpeg's
// encoder, against ffmpeg itself decoding the same file to a null output
// (the user time it reports with -benchmark, best of three runs).
// ratio = ffmpeg's time / ours (reading the file and decoding it in the
// 4096-byte chunks a chain pulls), ours being likewise the user time of the
// decoding thread (best of three): on a shared, loaded machine wall times
// would charge us for other processes' turns that ffmpeg's figure leaves out.
// Both figures count in the host's 10 ms ticks.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Bench.h"
#include "framework/Files.h"
#include "framework/Handles.h"
#include "media/codecs/MMADPCM.h"

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kSeconds = 600;
constexpr uint32_t kChunkBytes = 4096;

std::vector<uint8_t> ReadWhole(const std::string& path) {
    // Shared for writing too: a child's inherited handle may outlive it briefly.
    wc::FileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    std::vector<uint8_t> bytes;
    if (!file) return bytes;
    bytes.resize(::GetFileSize(file.get(), nullptr));
    DWORD read = 0;
    if (!bytes.empty()) ::ReadFile(file.get(), bytes.data(), DWORD(bytes.size()), &read, nullptr);
    bytes.resize(read);
    return bytes;
}

bool WriteWhole(const std::string& path, const void* data, size_t size) {
    wc::FileHandle file(
        ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.get(), data, DWORD(size), &written, nullptr) && written == size;
}

uint32_t U32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// Offset and size of the body of chunk `id`; false when the file has none.
bool FindChunk(const std::vector<uint8_t>& file, const char* id, size_t& at, size_t& size) {
    if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0) return false;
    for (size_t pos = 12; pos + 8 <= file.size();) {
        const uint64_t length = U32(file.data() + pos + 4);
        if (std::memcmp(file.data() + pos, id, 4) == 0) {
            at = pos + 8;
            size = size_t(std::min<uint64_t>(length, file.size() - at));
            return true;
        }
        pos += 8 + size_t(length) + (length & 1);
    }
    return false;
}

// Ten minutes of stereo tones with a swell and a little noise.
std::vector<uint8_t> MakePcmFile() {
    const uint32_t frames = kRate * kSeconds;
    const uint32_t dataBytes = frames * 4;
    std::vector<uint8_t> file(44 + size_t(dataBytes));
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&file[at], &v, 4); };
    auto put16 = [&](size_t at, uint16_t v) { std::memcpy(&file[at], &v, 2); };
    std::memcpy(&file[0], "RIFF", 4);
    put32(4, 36 + dataBytes);
    std::memcpy(&file[8], "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, 2);
    put32(24, kRate);
    put32(28, kRate * 4);
    put16(32, 4);
    put16(34, 16);
    std::memcpy(&file[36], "data", 4);
    put32(40, dataBytes);
    constexpr int kTable = 4096;
    std::vector<double> sine(kTable);
    for (int i = 0; i < kTable; ++i) sine[size_t(i)] = std::sin(2 * 3.14159265358979 * i / kTable);
    uint32_t noise = 7;
    uint32_t p1 = 0, p2 = 0, p3 = 0, swell = 0;  // phases in 1/2^32 turns
    const uint32_t d1 = uint32_t(4294967296.0 * 220 / kRate), d2 = uint32_t(4294967296.0 * 1250 / kRate),
                   d3 = uint32_t(4294967296.0 * 3100 / kRate), ds = uint32_t(4294967296.0 * 0.7 / kRate);
    int16_t* out = reinterpret_cast<int16_t*>(&file[44]);
    for (uint32_t i = 0; i < frames; ++i) {
        p1 += d1, p2 += d2, p3 += d3, swell += ds;
        const double gain = 0.6 + 0.4 * sine[swell >> 20];
        for (int c = 0; c < 2; ++c) {
            noise = noise * 1664525u + 1013904223u;
            const double v = gain * (9000 * sine[(p1 * (c + 1)) >> 20] + 4000 * sine[p2 >> 20] + 1500 * sine[p3 >> 20]) +
                             double(int(noise >> 25) - 64);
            *out++ = int16_t(v);
        }
    }
    return file;
}

}  // namespace

BENCHMARK_CASE("adpcm_decode_ms") {
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "wc_adpcm_bench_" + std::to_string(::GetCurrentProcessId());
    ::CreateDirectoryA(folder.c_str(), nullptr);
    const std::string pcmPath = folder + "\\pcm.wav", msPath = folder + "\\ms.wav", log = folder + "\\ffmpeg.log";
    auto cleanUp = [&] {
        ::DeleteFileA(pcmPath.c_str());
        ::DeleteFileA(msPath.c_str());
        ::DeleteFileA(log.c_str());
        ::RemoveDirectoryA(folder.c_str());
    };
    {
        const auto pcm = MakePcmFile();
        if (!WriteWhole(pcmPath, pcm.data(), pcm.size()) ||
            !bench::RunFfmpeg("-i pcm.wav -c:a adpcm_ms ms.wav", folder, log)) {
            std::printf("adpcm_decode_ms: cannot make the ADPCM file with %s\n", bench::Ffmpeg().c_str());
            cleanUp();
            return;
        }
        ::DeleteFileA(pcmPath.c_str());
    }

    double ffmpeg = 1e300;
    for (int run = 0; run < 3; ++run) {
        // Its exit code is not trusted here under every host; the report is.
        bench::RunFfmpeg("-benchmark -i ms.wav -f null -", folder, log);
        const double time = bench::FfmpegBenchSeconds(log);
        if (time > 0) ffmpeg = std::min(ffmpeg, time);
    }

    bool decoded = true;
    volatile uint32_t sink = 0;
    double ours = 1e300, oursWall = 1e300, readWall = 1e300, decodeUser = 1e300;
    for (int run = 0; run < 3; ++run) {
        const double userBefore = bench::ThreadUserSeconds();
        const double wallBefore = bench::Now();
        const auto file = ReadWhole(msPath);
        const double readEnd = bench::Now();
        const double readUser = bench::ThreadUserSeconds();
        size_t fmtAt = 0, fmtSize = 0, dataAt = 0, dataSize = 0;
        if (!FindChunk(file, "fmt ", fmtAt, fmtSize) || !FindChunk(file, "data", dataAt, dataSize) || fmtSize < 18) {
            decoded = false;
            break;
        }
        std::vector<uint8_t> formatBytes(file.begin() + ptrdiff_t(fmtAt), file.begin() + ptrdiff_t(fmtAt + fmtSize));
        const auto* format = reinterpret_cast<const WAVEFORMATEX*>(formatBytes.data());
        WAVEFORMATEX pcm{};
        if (!ADPCMSuggestFormat(format, &pcm, sizeof pcm, 16, 0, 0)) {
            decoded = false;
            break;
        }
        const uint32_t chunk = std::max<uint32_t>(1, kChunkBytes / format->nBlockAlign) * format->nBlockAlign;
        std::vector<uint8_t> out(MSADPCMDecodedSize(format, &pcm, chunk));
        uint64_t total = 0;
        for (size_t at = 0; at < dataSize; at += chunk) {
            const auto bytes = uint32_t(std::min<size_t>(chunk, dataSize - at));
            total += DecodeMSADPCM(format, &pcm, file.data() + dataAt + at, bytes, out.data(), uint32_t(out.size()));
            sink = sink + out[0];
        }
        if (total < uint64_t(kRate) * kSeconds * 4) decoded = false;
        const double userAfter = bench::ThreadUserSeconds();
        ours = std::min(ours, userAfter - userBefore);
        decodeUser = std::min(decodeUser, userAfter - readUser);
        oursWall = std::min(oursWall, bench::Now() - wallBefore);
        readWall = std::min(readWall, readEnd - wallBefore);
    }
    if (!decoded || ffmpeg >= 1e300 || ours <= 0) {
        std::printf("adpcm_decode_ms: %s\n", decoded ? "no -benchmark time from ffmpeg" : "the file did not decode");
        const auto text = ReadWhole(log);
        std::printf("%.*s\n", int(std::min<size_t>(text.size(), 2000)), reinterpret_cast<const char*>(text.data()));
        cleanUp();
        return;
    }
    cleanUp();
    std::printf("adpcm_decode_ms: user time ffmpeg %.3f s, ours %.3f s (decoding %.3f s); our wall time %.3f s (reading %.3f s)\n",
                ffmpeg, ours, decodeUser, oursWall, readWall);
    bench::Report("adpcm_decode_ms", ffmpeg / ours, 1.0);
}
