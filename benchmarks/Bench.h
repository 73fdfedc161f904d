// Benchmark registry. Each benchmark measures the code under test against a
// baseline run in the same process and prints one line:
//   bench <name> ratio=<x> target=<y> build=<32-bit|64-bit>
// where ratio is baseline time / measured time (higher is faster) unless the
// benchmark says otherwise in its own comment, and build names the build
// that ran it.
//
// A benchmark that works through gigabytes of data is registered as large
// (LARGE_BENCHMARK_CASE); the quick check (wc_bench --ci) leaves it out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bench {

enum class Size { Quick, Large };

struct Entry {
    std::string name;
    std::function<void()> run;
    Size size;
};

std::vector<Entry>& Registry();

struct Registrar {
    Registrar(std::string name, std::function<void()> run, Size size = Size::Quick) {
        Registry().push_back({std::move(name), std::move(run), size});
    }
};

// Every figure reported in this run, in order.
struct Result {
    std::string name;
    double ratio;
    double target;
};
std::vector<Result>& Results();

// Seconds of a monotonic clock.
double Now();

// Best of `repeats` runs of `fn`, in seconds: the least disturbed sample.
double BestOf(int repeats, const std::function<void()>& fn);

void Report(const std::string& name, double ratio, double target);

// Writes a 44.1 kHz 16-bit stereo PCM wave of `fileBytes` bytes in all to the
// temporary folder under `name`; data byte i is byteAt(i mod 1 MiB). Returns
// its path; the caller deletes it.
std::string MakePcmWaveFile(const std::string& name, uint32_t fileBytes, const std::function<uint8_t(size_t)>& byteAt);

// The converter beside the benchmark executable (extras\ffmpeg.exe).
std::string Ffmpeg();
// Runs the converter with `arguments` in `folder`, its console output in
// `log`; false when it cannot start, fails or runs past ten minutes.
bool RunFfmpeg(const std::string& arguments, const std::string& folder, const std::string& log);
// The converter's user time from the -benchmark line in its log; its real
// time when the host reports no user time (Wine does not always account
// it); -1 when the log has neither.
double FfmpegBenchSeconds(const std::string& log);

// User time of the calling thread, in seconds.
double ThreadUserSeconds();

}  // namespace bench

#define WC_BENCH_CONCAT2(a, b) a##b
#define WC_BENCH_CONCAT(a, b) WC_BENCH_CONCAT2(a, b)
#define WC_BENCHMARK_CASE(name, size)                                         \
    static void WC_BENCH_CONCAT(bench_fn_, __LINE__)();                       \
    static const bench::Registrar WC_BENCH_CONCAT(bench_reg_, __LINE__)(      \
        name, &WC_BENCH_CONCAT(bench_fn_, __LINE__), size);                   \
    static void WC_BENCH_CONCAT(bench_fn_, __LINE__)()
#define BENCHMARK_CASE(name) WC_BENCHMARK_CASE(name, bench::Size::Quick)
#define LARGE_BENCHMARK_CASE(name) WC_BENCHMARK_CASE(name, bench::Size::Large)
