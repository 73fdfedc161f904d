// The MPEG reader over a ten-minute 44.1 kHz stereo MP3 made by ffmpeg's
// LAME encoder, decoded to PCM in memory through TMMMpeg (the decoder
// library beside the program), against ffmpeg itself decoding the same file
// to a null output (the user time it reports with -benchmark, best of three).
// ratio = ffmpeg's time / ours, ours being likewise the user time of the
// decoding thread (best of three): on a shared, loaded machine wall times
// would charge us for other processes' turns that ffmpeg's figure leaves out.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Bench.h"
#include "framework/Files.h"
#include "framework/Handles.h"
#include "media/MMMPEG.h"

namespace {

// The chunk a chain pulls: one 4608-byte frame of 44.1 kHz stereo, twice.
constexpr int32_t kChunkBytes = 9216;
constexpr int kSeconds = 600;

}  // namespace

BENCHMARK_CASE("mpeg_decode") {
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "wc_mpeg_bench_" + std::to_string(::GetCurrentProcessId());
    ::CreateDirectoryA(folder.c_str(), nullptr);
    const std::string mp3 = folder + "\\long.mp3", log = folder + "\\ffmpeg.log";
    auto cleanUp = [&] {
        ::DeleteFileA(mp3.c_str());
        ::DeleteFileA(log.c_str());
        ::RemoveDirectoryA(folder.c_str());
    };
    const std::string source = "-f lavfi -i \"aevalsrc=0.4*sin(2*PI*440*t)+0.1*sin(2*PI*3100*t)|0.3*sin(2*PI*660*t)+0.1*sin(2*PI*5200*t):s=44100:d=" +
                               std::to_string(kSeconds) + "\" -c:a libmp3lame -b:a 192k long.mp3";
    if (!bench::RunFfmpeg(source, folder, log)) {
        std::printf("mpeg_decode: cannot make the MP3 file with %s\n", bench::Ffmpeg().c_str());
        cleanUp();
        return;
    }
    double ffmpeg = 1e300;
    for (int run = 0; run < 3; ++run) {
        bench::RunFfmpeg("-benchmark -i long.mp3 -f null -", folder, log);
        const double time = bench::FfmpegBenchSeconds(log);
        if (time > 0) ffmpeg = std::min(ffmpeg, time);
    }
    bool decoded = true;
    volatile uint32_t sink = 0;
    double ours = 1e300;
    try {
        for (int run = 0; run < 3; ++run) {
            const double before = bench::ThreadUserSeconds();
            TMMMpeg mpeg;
            mpeg.SetFileName(mp3);
            mpeg.Open();
            std::vector<uint8_t> chunk(kChunkBytes);
            uint64_t total = 0;
            int32_t got;
            while ((got = mpeg.Read(chunk.data(), kChunkBytes)) > 0) {
                total += uint32_t(got);
                sink = sink + chunk[0];
            }
            if (total < uint64_t(44100) * 4 * kSeconds) decoded = false;
            ours = std::min(ours, bench::ThreadUserSeconds() - before);
        }
    } catch (const std::exception& error) {
        std::printf("mpeg_decode: %s\n", error.what());
        decoded = false;
    }
    cleanUp();
    if (!decoded || ffmpeg >= 1e300 || ours <= 0) {
        std::printf("mpeg_decode: %s\n", decoded ? "no -benchmark time from ffmpeg" : "the file did not decode");
        return;
    }
    std::printf("mpeg_decode: user time ffmpeg %.3f s, ours %.3f s\n", ffmpeg, ours);
    bench::Report("mpeg_decode", ffmpeg / ours, 1.0);
}
