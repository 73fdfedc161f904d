// The wave chooser's waveform scan over a 1 GiB PCM file (one block read
// and one peak scan per pixel column, drawn into a memory bitmap) against a
// plain sequential ReadFile of the same file in blocks of the same size.
// ratio = read time / draw time, like the other benchmarks: higher is
// better; the target 0.8 is a draw taking at most 1.25 times the read.
// A repaint afterwards comes from the peak table alone: it runs with the
// file already deleted, and its time is printed beside.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Bench.h"
#include "dialogs/MMCstDlg.h"
#include "framework/Handles.h"
#include "media/MMPCMSup.h"
#include "media/MMWave.h"

namespace {

constexpr uint32_t kFileBytes = 1u << 30;
// A waveform area of a usual width: 300 columns inside its bevels.
constexpr int kAreaWidth = 304, kAreaHeight = 44;

std::string MakeFile() {
    return bench::MakePcmWaveFile("wc_bench_wavedialog.wav", kFileBytes, [](size_t i) { return uint8_t(i * 7 + (i >> 9)); });
}

}  // namespace

BENCHMARK_CASE("wavedialog_draw") {
    const std::string path = MakeFile();
    const int columns = kAreaWidth - 4;
    const uint32_t block = ((kFileBytes - 44) / columns) & ~3u;

    std::vector<uint8_t> buffer(block);
    uint64_t plainBytes = 0;
    const double plain = bench::BestOf(3, [&] {
        wc::FileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        DWORD got = 0;
        plainBytes = 0;
        while (::ReadFile(file.get(), buffer.data(), block, &got, nullptr) && got) plainBytes += got;
    });

    wc::WindowDc screen(nullptr);
    wc::MemoryDcHandle dc(::CreateCompatibleDC(screen.get()));
    wc::BitmapHandle bitmap(::CreateCompatibleBitmap(screen.get(), kAreaWidth, kAreaHeight));
    wc::DcSelection selected(dc.get(), bitmap.get());
    const RECT area{0, 0, kAreaWidth, kAreaHeight};
    WavePeakTable peaks(kAreaWidth);
    double draw = 0, repaint = 0;
    {
        TMMWave wave;
        wave.SetTimeFormat(tfByte);
        wave.SetIOBufferSize(131072);  // the preview's file buffer
        wave.SetFileName(path);
        draw = bench::BestOf(3, [&] { DrawWavePeaks(dc.get(), area, wave, WaveDrawColors{}, peaks); });
        const double readOnly = bench::BestOf(3, [&] {
            wave.OpenFile();
            wave.SetPosition(0);
            while (wave.ReadData(buffer.data(), int32_t(block)) > 0) {}
            wave.CloseFile();
        });
        int16_t a, b, c, d;
        const double scanOnly = bench::BestOf(3, [&] {
            for (int i = 0; i < columns; ++i) PCMFindPeaks(wave.PWaveFormat(), buffer.data(), block, a, b, c, d);
        });
        std::printf("wave read %.3f s, scan %.3f s\n", readOnly, scanOnly);
    }
    ::DeleteFileA(path.c_str());
    const RECT inner{2, 2, kAreaWidth - 2, kAreaHeight - 2};
    repaint = bench::BestOf(9, [&] { PaintWavePeaks(dc.get(), inner, peaks, 0x00FF00); });

    std::printf("wavedialog_draw: read %.3f s (%llu bytes), draw %.3f s, repaint %.6f s without the file\n", plain,
                static_cast<unsigned long long>(plainBytes), draw, repaint);
    bench::Report("wavedialog_draw", draw > 0 ? plain / draw : 0, 0.8);
}
