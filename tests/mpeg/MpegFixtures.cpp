#include "MpegFixtures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>

#include "framework/Files.h"
#include "support/TestSupport.h"

namespace mpeg_tests {

using namespace testing_support;

namespace {

TempDir& Folder() {
    static TempDir dir("mpeg");
    return dir;
}

// Two tones per channel under a slow swell: content an encoder must work on.
std::string Source(int rate, int channels, double seconds) {
    const std::string left = "(0.6+0.3*sin(2*PI*0.7*t))*(0.4*sin(2*PI*440*t)+0.2*sin(2*PI*2500*t))";
    const std::string right = "(0.6+0.3*sin(2*PI*1.1*t))*(0.3*sin(2*PI*660*t)+0.2*sin(2*PI*5000*t))";
    std::ostringstream s;
    s << "-f lavfi -i \"aevalsrc=" << left << (channels == 2 ? "|" + right : "") << ":s=" << rate << ":d=" << seconds << "\" ";
    return s.str();
}

// The fixtures: name -> the ffmpeg arguments before the output name.
const std::map<std::string, std::string>& Recipes() {
    static const std::map<std::string, std::string> recipes = {
        {"cbr44s.mp3", Source(44100, 2, 3) + "-c:a libmp3lame -b:a 128k"},
        {"vbr48m.mp3", Source(48000, 1, 3) + "-c:a libmp3lame -q:a 4"},
        {"vbr44s.mp3", Source(44100, 2, 3) + "-c:a libmp3lame -q:a 2"},
        {"cbr32s.mp3", Source(32000, 2, 3) + "-c:a libmp3lame -b:a 96k"},
        {"lsf22s.mp3", Source(22050, 2, 3) + "-c:a libmp3lame -b:a 64k"},
        {"s48.mp2", Source(48000, 2, 3) + "-c:a mp2 -b:a 192k"},
        {"m44.mp2", Source(44100, 1, 3) + "-c:a mp2 -b:a 96k"},
        {"s32.mp2", Source(32000, 2, 2) + "-c:a mp2 -b:a 128k"},
        {"s44.mp2", Source(44100, 2, 2) + "-c:a mp2 -b:a 192k"},
        {"ls44.mp3", Source(44100, 2, 3) + "-c:a libmp3lame -b:a 160k -joint_stereo 0"},
        {"s24.mp3", Source(24000, 2, 3) + "-c:a libmp3lame -b:a 48k"},
        {"m16.mp3", Source(16000, 1, 3) + "-c:a libmp3lame -b:a 32k"},
        {"s12.mp3", Source(12000, 2, 3) + "-c:a libmp3lame -b:a 24k"},
        {"s11.mp3", Source(11025, 2, 3) + "-c:a libmp3lame -b:a 32k"},
        {"m8.mp3", Source(8000, 1, 3) + "-c:a libmp3lame -b:a 16k"},
        {"s22.mp2", Source(22050, 2, 3) + "-c:a mp2 -b:a 64k"},
        {"s48low.mp2", Source(48000, 2, 3) + "-c:a mp2 -b:a 64k"},
        {"plain.mp3", Source(44100, 2, 1) + "-c:a libmp3lame -b:a 128k -id3v2_version 0"},
        {"tagged.mp3", Source(44100, 2, 1) + "-c:a libmp3lame -b:a 128k -write_id3v1 1 -metadata title=\"Test Title\" "
                                             "-metadata artist=\"Some Artist\" -metadata album=\"An Album\" -metadata date=2001 "
                                             "-metadata comment=\"A comment\" -metadata track=7 -metadata genre=Rock"},
        {"id3v2.mp3", Source(44100, 2, 1) + "-c:a libmp3lame -b:a 128k -id3v2_version 3 -metadata title=\"Only v2\" "
                                            "-metadata artist=\"Tagged Artist\""},
    };
    return recipes;
}

}  // namespace

bool RunFfmpeg(const std::string& arguments) {
    return testing_support::RunFfmpeg(arguments, Folder().path(), std::chrono::seconds(300));
}

std::string ScratchPath(const std::string& name) { return Folder() / name; }

std::string Fixture(const std::string& name) {
    const std::string path = Folder() / name;
    if (wc::FileExists(path)) return path;
    auto recipe = Recipes().find(name);
    EXPECT_NE(recipe, Recipes().end()) << name;
    if (recipe == Recipes().end()) return path;
    EXPECT_TRUE(wc::FileExists(FfmpegPath())) << FfmpegPath();
    EXPECT_TRUE(RunFfmpeg(recipe->second + " " + name)) << recipe->second;
    return path;
}

FfmpegFrames FramesOf(const std::string& fixture) {
    FfmpegFrames result;
    const std::string list = fixture + ".framecrc";
    EXPECT_TRUE(RunFfmpeg("-i \"" + fixture + "\" -map 0:a -c:a copy -f framecrc \"" + list + "\""));
    const auto bytes = ReadFileBytes(list);
    std::istringstream lines(std::string(bytes.begin(), bytes.end()));
    std::string line;
    double timeBase = 0;
    int64_t duration = 0;
    while (std::getline(lines, line)) {
        long num = 0, den = 0;
        if (std::sscanf(line.c_str(), "#tb 0: %ld/%ld", &num, &den) == 2 && den > 0) timeBase = double(num) / den;
        long long pts = 0, dts = 0, packetDuration = 0;
        if (line.rfind("0,", 0) == 0 && std::sscanf(line.c_str(), "0, %lld, %lld, %lld", &pts, &dts, &packetDuration) == 3) {
            ++result.frames;
            duration += packetDuration;
        }
    }
    result.seconds = double(duration) * timeBase;
    return result;
}

std::vector<int16_t> ToSamples(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

std::vector<int16_t> FfmpegDecode(const std::string& fixture) {
    const std::string raw = fixture + ".ffmpeg.raw";
    EXPECT_TRUE(RunFfmpeg("-i \"" + fixture + "\" -f s16le -c:a pcm_s16le \"" + raw + "\""));
    return ToSamples(ReadFileBytes(raw));
}

std::vector<int16_t> DecodeAll(TMMMpeg& mpeg, int32_t chunkBytes) {
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> chunk(static_cast<size_t>(chunkBytes));
    mpeg.Open();
    // A bound: ten minutes of 48 kHz stereo with room to spare.
    for (int guard = 0; guard < 1'000'000; ++guard) {
        const int32_t got = mpeg.Read(chunk.data(), chunkBytes);
        if (got <= 0) break;
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
    }
    return ToSamples(bytes);
}

double AlignedSnrDb(const std::vector<int16_t>& reference, const std::vector<int16_t>& ours, int channels, int maxShift) {
    const int64_t refFrames = int64_t(reference.size()) / channels;
    const int64_t ourFrames = int64_t(ours.size()) / channels;
    // The shift whose samples match best (least squared difference of the
    // first channel over a middle window); a plain correlation peak is
    // ambiguous on tonal content.
    const int64_t window = std::min<int64_t>(8192, std::max<int64_t>(0, std::min(refFrames, ourFrames) - 2 * maxShift - 1));
    const int64_t start = std::max<int64_t>(maxShift, refFrames / 2 - window / 2);
    int bestShift = 0;
    double best = 1e300;
    for (int shift = -maxShift; shift <= maxShift; ++shift) {
        double sum = 0;
        for (int64_t i = start; i < start + window; ++i) {
            const int64_t j = i + shift;
            if (i >= refFrames || j < 0 || j >= ourFrames) {
                sum = 1e300;
                break;
            }
            const double d = double(reference[size_t(i * channels)]) - ours[size_t(j * channels)];
            sum += d * d;
        }
        if (sum < best) {
            best = sum;
            bestShift = shift;
        }
    }
    // ours[i + shift] stands for reference[i].
    double signal = 0, noise = 0;
    for (int64_t i = 0; i < refFrames; ++i) {
        const int64_t j = i + bestShift;
        if (j < 0 || j >= ourFrames) continue;
        for (int c = 0; c < channels; ++c) {
            const double r = reference[size_t(i * channels + c)];
            const double d = r - ours[size_t(j * channels + c)];
            signal += r * r;
            noise += d * d;
        }
    }
    if (noise == 0) return 200.0;
    return 10.0 * std::log10(signal / noise);
}

Instance::Instance() {
    if (!MpegLibraryAvailable()) return;
    int32_t status = -1;
    handle_ = Lib().mpeg_Init(&status, nullptr, nullptr);
    EXPECT_EQ(status, 0);
}

Instance::~Instance() {
    if (handle_) Lib().mpeg_Done(&handle_);
}

MpegFileInfo InfoOf(void* instance) {
    MpegFileInfo info{};
    EXPECT_EQ(Lib().mpeg_GetFileInfo(instance, &info), 0);
    return info;
}

std::vector<int16_t> ReadToEnd(void* instance, int32_t chunkBytes) {
    std::vector<int16_t> samples;
    std::vector<uint8_t> chunk(static_cast<size_t>(chunkBytes));
    for (int guard = 0; guard < 1'000'000; ++guard) {
        const int32_t got = Lib().mpeg_ReadDataBytes(instance, chunk.data(), chunkBytes);
        if (got <= 0) break;
        const size_t at = samples.size();
        samples.resize(at + size_t(got) / 2);
        std::memcpy(samples.data() + at, chunk.data(), size_t(got));
    }
    return samples;
}

}  // namespace mpeg_tests
