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

std::string ReadText(const std::string& path) {
    wc::FileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return {};
    std::string text(1 << 16, '\0');
    DWORD got = 0;
    ::ReadFile(file.get(), text.data(), DWORD(text.size()), &got, nullptr);
    text.resize(got);
    return text;
}

// ffmpeg's user time from its -benchmark line; its real time when the host
// reports no user time.
double ParseBenchTime(const std::string& log) {
    const std::string s = ReadText(log);
    const size_t user = s.find("utime=");
    const size_t real = s.find("rtime=");
    if (user != std::string::npos && std::atof(s.c_str() + user + 6) > 0) return std::atof(s.c_str() + user + 6);
    return real == std::string::npos ? -1 : std::atof(s.c_str() + real + 6);
}

// User time of the calling thread, in seconds.
double ThreadUserSeconds() {
    FILETIME created, exited, kernel, user;
    if (!::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
    return double(uint64_t(user.dwHighDateTime) << 32 | user.dwLowDateTime) / 1e7;
}

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
        const double time = ParseBenchTime(log);
        if (time > 0) ffmpeg = std::min(ffmpeg, time);
    }
    bool decoded = true;
    volatile uint32_t sink = 0;
    double ours = 1e300;
    try {
        for (int run = 0; run < 3; ++run) {
            const double before = ThreadUserSeconds();
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
            ours = std::min(ours, ThreadUserSeconds() - before);
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
