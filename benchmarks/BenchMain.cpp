#include "Bench.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace bench {

namespace {

// The quick check fails a figure below this share of its target: a gross
// regression (the wave layer once read at a third of its target), never the
// noise of a shared machine, which moves a figure by a fifth at most.
constexpr double kFailingShareOfTarget = 0.5;

const char* BuildName() { return sizeof(void*) == 8 ? "64-bit" : "32-bit"; }

}  // namespace

std::vector<Entry>& Registry() {
    static std::vector<Entry> entries;
    return entries;
}

std::vector<Result>& Results() {
    static std::vector<Result> results;
    return results;
}

double Now() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return double(counter.QuadPart) / double(frequency.QuadPart);
}

double BestOf(int repeats, const std::function<void()>& fn) {
    double best = 1e300;
    for (int i = 0; i < repeats; ++i) {
        const double start = Now();
        fn();
        best = std::min(best, Now() - start);
    }
    return best;
}

void Report(const std::string& name, double ratio, double target) {
    Results().push_back({name, ratio, target});
    std::printf("bench %s ratio=%.3f target=%.3f build=%s\n", name.c_str(), ratio, target, BuildName());
    std::fflush(stdout);
}

}  // namespace bench

// wc_bench [--ci] [filter]: runs every registered benchmark, or those whose
// name contains the filter. With --ci, the quick check: the large
// benchmarks are left out, each one's time is printed, and the exit code is
// 1 when a figure falls below half its target or a benchmark reports none.
int main(int argc, char** argv) {
    bool check = false;
    const char* filter = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--ci") == 0) check = true;
        else filter = argv[i];
    }
    int run = 0, failed = 0;
    const double start = bench::Now();
    for (const auto& entry : bench::Registry()) {
        if (filter && !std::strstr(entry.name.c_str(), filter)) continue;
        if (check && entry.size == bench::Size::Large) continue;
        const size_t reported = bench::Results().size();
        const double began = bench::Now();
        entry.run();
        ++run;
        if (!check) continue;
        std::printf("bench-ci: %s took %.1f s\n", entry.name.c_str(), bench::Now() - began);
        if (bench::Results().size() == reported) {
            std::printf("bench-ci: FAILED %s reported no figure\n", entry.name.c_str());
            ++failed;
        }
        for (size_t i = reported; i < bench::Results().size(); ++i) {
            const bench::Result& r = bench::Results()[i];
            if (r.ratio >= r.target * bench::kFailingShareOfTarget) continue;
            std::printf("bench-ci: FAILED %s ratio=%.3f is below half its target %.3f\n", r.name.c_str(), r.ratio,
                        r.target);
            ++failed;
        }
    }
    if (run == 0) std::printf("no benchmark matched\n");
    if (check) std::printf("bench-ci: %d benchmarks in %.1f s, %d failed\n", run, bench::Now() - start, failed);
    std::fflush(stdout);
    return failed ? 1 : 0;
}
