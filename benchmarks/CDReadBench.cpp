// The CD read engine on a 10-minute track (45000 sectors) of the virtual
// drive (the test double WNASPI32.DLL beside the executable, loaded in place
// of Wine's own by scripts/bench.sh): normal mode, 10 sectors a read, against
// synchronised mode with 10 sectors a pass, which reads every sector twice
// (so 0.5 is its limit) and searches each pass for the previous one's end.
// ratio = normal-mode time / synchronised-mode time.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "Bench.h"
#include "aspidrive/VirtualDrive.h"
#include "media/cd/MMASPI.h"

namespace {

constexpr int32_t kTrackSectors = 45000;  // 10 minutes at 75 sectors a second
constexpr int kSectorsPerRead = 10;       // the CD reader's default block count
constexpr int32_t kCheckedSectors = 2000; // the stretch both modes must agree on
constexpr int kSector = CDRawSectorSize;

// One drive, one audio track a little longer than the part read (reads at
// the very end of the audio area are zeroed by the engine).
const char* const kWorld =
    "device 0 0 0 vendor=PLEXTOR product=\"CD-ROM PX-40TS\"\n"
    "track 1 0x00 0\n"
    "leadout 45100\n";

// Reads `count` sectors from `first` in normal mode; false on a failed read.
bool ReadNormal(CDDeviceContext* context, int32_t count, std::vector<uint8_t>* out) {
    std::vector<uint8_t> part(size_t(kSectorsPerRead) * CDLargeSectorSize);
    for (int32_t done = 0; done < count; done += kSectorsPerRead) {
        const int n = int(std::min<int32_t>(kSectorsPerRead, count - done));
        if (cdReadSectors(context, part.data(), int64_t(part.size()), done, n) != 0) return false;
        if (out) out->insert(out->end(), part.begin(), part.begin() + std::ptrdiff_t(n) * kSector);
    }
    return true;
}

bool ReadSync(CDDeviceContext* context, int32_t count, std::vector<uint8_t>* out) {
    if (cdStartSync(context, 0, count, kSectorsPerRead) != 0) return false;
    std::vector<uint8_t> part(size_t(kSectorsPerRead) * kSector);
    int64_t n = 0;
    while ((n = cdReadSync(context, part.data(), int64_t(part.size()))) > 0)
        if (out) out->insert(out->end(), part.begin(), part.begin() + std::ptrdiff_t(n));
    cdStopSync(context);
    return n == 0;
}

}  // namespace

BENCHMARK_CASE("cd_sync_read") {
    HMODULE drive = ::LoadLibraryA("WNASPI32.DLL");
    const auto load = drive ? reinterpret_cast<VirtualDriveLoadProc>(
                                  reinterpret_cast<void*>(::GetProcAddress(drive, "VirtualDriveLoad")))
                            : nullptr;
    if (!load || load(kWorld) != 0) {
        std::printf("bench cd_sync_read not run: WNASPI32.DLL here is not the virtual drive "
                    "(run through scripts/bench.sh)\n");
        if (drive) ::FreeLibrary(drive);
        return;
    }
    int status = 1;
    bool ioctl = false;
    CDDeviceHandle context = cdInit(status, ioctl);
    CDTrackList toc;
    if (!context || status != 0 || cdSetDevice(context.get(), 0) != 0 || cdReadTOC(context.get(), toc) != 0 ||
        cdOpen(context.get(), true) != 0) {
        std::printf("bench cd_sync_read not run: the virtual drive did not open (status %d)\n", status);
        cdDone(context);
        ::FreeLibrary(drive);
        return;
    }

    // Both modes must deliver the same bytes before their times mean anything.
    std::vector<uint8_t> normalBytes, syncBytes;
    if (!ReadNormal(context.get(), kCheckedSectors, &normalBytes) ||
        !ReadSync(context.get(), kCheckedSectors, &syncBytes) || normalBytes != syncBytes) {
        std::printf("bench cd_sync_read not run: normal and synchronised mode disagree\n");
        cdDone(context);
        ::FreeLibrary(drive);
        return;
    }

    bool ok = true;
    const double normal = bench::BestOf(3, [&] { ok = ReadNormal(context.get(), kTrackSectors, nullptr) && ok; });
    const double sync = bench::BestOf(3, [&] { ok = ReadSync(context.get(), kTrackSectors, nullptr) && ok; });
    cdDone(context);
    ::FreeLibrary(drive);
    if (!ok) {
        std::printf("bench cd_sync_read not run: a read failed during the timing\n");
        return;
    }
    bench::Report("cd_sync_read", normal / sync, 0.45);
}
