// The cleaning job against the converter alone.
//
// clean_copy_large: a 5 GiB source, the converter alone running the job's
// command against the whole job (plan, converter writing a temporary file,
// check of every sample, the copy written through and put in place), as
// "CLEAN FILE" runs it. The check may cost at most a quarter on top of
// the converter. The plain copy of the file is printed beside the figure.
//
// clean_batch_small: a sample library, 200 one-second sources of mixed
// formats, cleaned as one batch by the job, against the converter run over
// the same files one after another with the job's own command lines, as a
// script would. On a machine of two cores the job's converters running at
// once must outweigh its checks by far.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "Bench.h"
#include "app/CleanCheck.h"
#include "app/CleanJob.h"
#include "framework/Files.h"
#include "framework/Handles.h"

namespace {

// Past 4 GiB, so the source is RF64 and so is the copy.
constexpr uint64_t kSourceDataBytes = 5ull << 30;
constexpr uint32_t kWriteBlockBytes = 4u << 20;
// Rounds of converter alone and whole job, in turns.
constexpr int kRounds = 2;

void PutLe(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

// A 44.1 kHz 16-bit stereo RF64 wave: "ds64" holds the real sizes, the
// 32-bit fields hold 0xFFFFFFFF.
std::string MakeLargeSource(const std::string& path) {
    std::vector<uint8_t> header;
    const auto tag = [&](const char* id) { header.insert(header.end(), id, id + 4); };
    tag("RF64"), PutLe(header, 0xFFFFFFFF, 4), tag("WAVE");
    tag("ds64"), PutLe(header, 28, 4);
    PutLe(header, 4 + 36 + 24 + 8 + kSourceDataBytes, 8);  // RIFF size: WAVE, ds64, fmt, data header and data
    PutLe(header, kSourceDataBytes, 8), PutLe(header, kSourceDataBytes / 4, 8), PutLe(header, 0, 4);
    tag("fmt "), PutLe(header, 16, 4), PutLe(header, 1, 2), PutLe(header, 2, 2), PutLe(header, 44100, 4);
    PutLe(header, 44100 * 4, 4), PutLe(header, 4, 2), PutLe(header, 16, 2);
    tag("data"), PutLe(header, 0xFFFFFFFF, 4);
    wc::FileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) return {};
    DWORD done = 0;
    ::WriteFile(file.get(), header.data(), DWORD(header.size()), &done, nullptr);
    std::vector<uint8_t> block(kWriteBlockBytes);
    uint32_t seed = 1;
    for (auto& b : block) b = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
    for (uint64_t left = kSourceDataBytes; left;) {
        const DWORD n = DWORD(std::min<uint64_t>(left, block.size()));
        if (!::WriteFile(file.get(), block.data(), n, &done, nullptr) || done != n) return {};
        left -= n;
    }
    ::FlushFileBuffers(file.get());
    return path;
}

}  // namespace

LARGE_BENCHMARK_CASE("clean_copy_large") {
    char folder[MAX_PATH] = "";
    ::GetTempPathA(MAX_PATH, folder);
    const std::string source = MakeLargeSource(std::string(folder) + "wc bench large.wav");
    const std::string output = std::string(folder) + "Clean_wc bench large.wav";
    const std::string copy = std::string(folder) + "wc bench large copy.wav";
    const std::string log = std::string(folder) + "wc bench large.log";
    const std::string outputFolder = wc::ExtractFileDir(output);
    if (source.empty()) {
        std::fprintf(stderr, "clean_copy_large: the 5 GiB source cannot be written\n");
        return;
    }

    const double copyStart = bench::Now();
    const bool copied = ::CopyFileA(source.c_str(), copy.c_str(), FALSE) != FALSE;
    const double copySeconds = bench::Now() - copyStart;
    ::DeleteFileA(copy.c_str());

    // The same command the job gives the converter for this source, and the
    // whole job, taken in turns so that neither gains from the other's
    // place in the run (the page cache and the disk's write-back settle
    // meanwhile); the best of each counts.
    double converterSeconds = 1e300, jobSeconds = 1e300;
    bool ran = true;
    std::string failure;
    for (int round = 0; round < kRounds; ++round) {
        const double converterStart = bench::Now();
        const ConverterRun run = RunConverter(ConverterCommandLine(source, output, "", true), log, {});
        ran = run.started && run.exitCode == 0 && ran;
        converterSeconds = std::min(converterSeconds, bench::Now() - converterStart);
        ::DeleteFileA(output.c_str());

        const double jobStart = bench::Now();
        const std::vector<FileOutcome> outcomes = CleanJob({}).Run({source}, outputFolder, {log, true});
        jobSeconds = std::min(jobSeconds, bench::Now() - jobStart);
        if (failure.empty() && outcomes.front().result != FileOutcome::Result::Verified)
            failure = outcomes.front().reason.empty() ? "not verified" : outcomes.front().reason;
        ::DeleteFileA(output.c_str());
    }

    ::DeleteFileA(output.c_str());
    ::DeleteFileA(source.c_str());
    ::DeleteFileA(log.c_str());
    std::printf("clean_copy_large: plain copy %.2f s%s, converter alone %.2f s%s, whole job %.2f s%s (best of %d)\n",
                copySeconds, copied ? "" : " (failed)", converterSeconds, ran ? "" : " (failed)", jobSeconds,
                failure.empty() ? "" : (" (failed: " + failure + ")").c_str(), kRounds);
    // A job that did not verify the copy has no figure to give.
    bench::Report("clean_copy_large", failure.empty() ? converterSeconds / jobSeconds : 0.0, 0.8);
}

namespace {

// The batch: two hundred sources of a second each.
constexpr int kBatchSources = 200;

// The formats a sample library mixes, taken in turn.
struct SmallFormat {
    uint16_t tag;  // 1: integer PCM, 3: float
    uint16_t channels, bits;
    uint32_t rate;
};
constexpr SmallFormat kSmallFormats[] = {
    {1, 2, 16, 44100}, {1, 2, 24, 48000}, {1, 1, 8, 22050}, {3, 2, 32, 44100}, {1, 1, 16, 44100}, {1, 4, 16, 48000},
};

// One second of `format`, its bytes drawn from `seed`.
bool MakeSmallSource(const std::string& path, const SmallFormat& format, uint32_t seed) {
    const uint32_t blockAlign = format.channels * format.bits / 8u;
    const uint32_t dataBytes = format.rate * blockAlign;
    std::vector<uint8_t> file;
    file.reserve(44 + dataBytes);
    const auto tag = [&](const char* id) { file.insert(file.end(), id, id + 4); };
    tag("RIFF"), PutLe(file, 36 + dataBytes, 4), tag("WAVE");
    tag("fmt "), PutLe(file, 16, 4), PutLe(file, format.tag, 2), PutLe(file, format.channels, 2);
    PutLe(file, format.rate, 4), PutLe(file, format.rate * blockAlign, 4), PutLe(file, blockAlign, 2);
    PutLe(file, format.bits, 2);
    tag("data"), PutLe(file, dataBytes, 4);
    for (uint32_t i = 0; i < dataBytes; ++i) file.push_back(uint8_t((seed = seed * 1664525u + 1013904223u) >> 24));
    if (format.tag == 3)  // no NaN: a high byte of at most 0x3F keeps every float positive and below 1
        for (size_t i = 44 + 3; i < file.size(); i += 4) file[i] &= 0x3F;
    wc::FileHandle out(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD done = 0;
    return out && ::WriteFile(out.get(), file.data(), DWORD(file.size()), &done, nullptr) && done == file.size();
}

void RemoveFolder(const std::string& folder) {
    WIN32_FIND_DATAA found{};
    const HANDLE search = ::FindFirstFileA((folder + "\\*").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = ::FindNextFileA(search, &found))
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ::DeleteFileA((folder + "\\" + found.cFileName).c_str());
    if (search != INVALID_HANDLE_VALUE) ::FindClose(search);
    ::RemoveDirectoryA(folder.c_str());
}

}  // namespace

// Large: two hundred starts of the converter, twice, take minutes under Wine.
LARGE_BENCHMARK_CASE("clean_batch_small") {
    char temp[MAX_PATH] = "";
    ::GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "wc bench batch";
    const std::string outputFolder = std::string(temp) + "wc bench batch out";
    const std::string log = std::string(temp) + "wc bench batch.log";
    ::CreateDirectoryA(folder.c_str(), nullptr);
    ::CreateDirectoryA(outputFolder.c_str(), nullptr);
    std::vector<std::string> sources;
    for (int i = 0; i < kBatchSources; ++i) {
        sources.push_back(folder + "\\sample " + std::to_string(i) + ".wav");
        if (!MakeSmallSource(sources.back(), kSmallFormats[i % std::size(kSmallFormats)], uint32_t(i + 1))) {
            std::fprintf(stderr, "clean_batch_small: %s cannot be written\n", sources.back().c_str());
            RemoveFolder(folder);
            RemoveFolder(outputFolder);
            return;
        }
    }

    // What a script does: the job's command line for each source, one converter after another.
    bool ran = true;
    const double scriptStart = bench::Now();
    for (const std::string& source : sources) {
        const ConverterRun run = RunConverter(
            ConverterCommandLine(source, BuildOutputPath(outputFolder, source), KeepFormatCodecOf(source), false), log,
            {});
        ran = ran && run.started && run.exitCode == 0;
    }
    const double scriptSeconds = bench::Now() - scriptStart;
    RemoveFolder(outputFolder);
    ::CreateDirectoryA(outputFolder.c_str(), nullptr);

    const double jobStart = bench::Now();
    const std::vector<FileOutcome> outcomes = CleanJob({}).Run(sources, outputFolder, {log, true});
    const double jobSeconds = bench::Now() - jobStart;
    std::string failure;
    for (const FileOutcome& outcome : outcomes)
        if (failure.empty() && outcome.result != FileOutcome::Result::Verified)
            failure = outcome.source + ": " + (outcome.reason.empty() ? "not verified" : outcome.reason);

    RemoveFolder(folder);
    RemoveFolder(outputFolder);
    ::DeleteFileA(log.c_str());
    ::DeleteFileA(PreviousLogPath(log).c_str());
    std::printf("clean_batch_small: %d sources, converter one after another %.2f s%s, job (%u at once) %.2f s%s\n",
                kBatchSources, scriptSeconds, ran ? "" : " (failed)", ConvertersAtOnce(), jobSeconds,
                failure.empty() ? "" : (" (failed: " + failure + ")").c_str());
    // A job that did not verify every copy has no figure to give.
    bench::Report("clean_batch_small", failure.empty() && ran ? scriptSeconds / jobSeconds : 0.0, 1.6);
}
