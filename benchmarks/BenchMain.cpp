#include "Bench.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace bench {

std::vector<Entry>& Registry() {
    static std::vector<Entry> entries;
    return entries;
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
    std::printf("bench %s ratio=%.3f target=%.3f\n", name.c_str(), ratio, target);
    std::fflush(stdout);
}

}  // namespace bench

// Runs every registered benchmark, or those whose name contains argv[1].
int main(int argc, char** argv) {
    const char* filter = argc > 1 ? argv[1] : nullptr;
    int run = 0;
    for (const auto& entry : bench::Registry()) {
        if (filter && !std::strstr(entry.name.c_str(), filter)) continue;
        entry.run();
        ++run;
    }
    if (run == 0) std::printf("no benchmark matched\n");
    return 0;
}
