// A sweep of mutated wave files through the real code paths that need the
// system: parsing (WaveIOOpen, IsWaveFile), the format texts, reading every
// byte (WaveIORead and the wave object's ReadData), the ADPCM converter
// chain into a sink, and the waveform peak scan.
//
// Threads: the test body runs on the main thread; one watchdog thread
// watches the body's heartbeat (an atomic counter) and, when it stalls,
// writes the current input out with its seed and ends the process. The
// current input and seed are published under `g_currentLock` by the body
// and read by the watchdog and the exception handler.
//
// Every file is made deterministically from the run's base seed and its own
// index; a failing input is written out as mutation-<seed>-<index>.wav
// beside the executable. WC_MUTATION_SEED and WC_MUTATION_FILES replay a
// run or a single file.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "framework/Components.h"
#include "framework/Exceptions.h"
#include "media/MMErrors.h"
#include "media/codecs/MMADCvt.h"
#include "media/codecs/MMADPCM.h"
#include "media/codecs/MMPCMSup.h"
#include "media/wave/MMWave.h"
#include "media/wave/MMWaveIO.h"
#include "support/TestSupport.h"

namespace {

using namespace testing_support;

// Files per run: 100 000 take about two and a half minutes under Wine on an
// otherwise idle two-core machine (a file's round through the system's file
// I/O costs about 1.4 ms there, several times that on a busy one);
// WC_MUTATION_FILES asks for another count.
constexpr uint32_t kDefaultFiles = 100000;
constexpr uint32_t kDefaultSeed = 20261209;
// A file that takes longer than this is a hang: no file here needs a tenth.
constexpr std::chrono::seconds kWatchdogLimit{20};
// Reads and pulls per file are bounded so a faulty end never loops forever.
constexpr int kMaxReads = 4096;
// The chain runs for every this-many-th file: its set-up (full path, the
// file's size, the network name query) costs several times the rest of a
// file's round.
constexpr uint32_t kChainEvery = 16;

uint32_t EnvOr(const char* name, uint32_t fallback) {
    const char* value = std::getenv(name);
    return value && *value ? uint32_t(std::strtoul(value, nullptr, 0)) : fallback;
}

// ---- deterministic random numbers ----

struct Rng {
    uint64_t state;
    explicit Rng(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint32_t Next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return uint32_t(state >> 11);
    }
    uint32_t Below(uint32_t n) { return n ? Next() % n : 0; }
    bool OneIn(uint32_t n) { return Below(n) == 0; }
};

// ---- files as chunk lists ----

struct Chunk {
    std::string id;  // four characters
    uint32_t size;   // as declared
    std::vector<uint8_t> body;
    bool pad = true;  // a pad byte behind an odd body
};

void PutU16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    PutU16(out, v & 0xFFFF);
    PutU16(out, v >> 16);
}

Chunk MakeChunk(const char* id, std::vector<uint8_t> body) { return Chunk{id, uint32_t(body.size()), std::move(body)}; }

std::vector<uint8_t> FormatBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, uint16_t align,
                                const std::vector<uint8_t>& extra, bool withCbSize) {
    std::vector<uint8_t> b;
    PutU16(b, tag);
    PutU16(b, channels);
    PutU32(b, rate);
    PutU32(b, rate * align / (tag == 1 || tag == 3 || tag == 0xFFFE ? 1 : std::max<uint32_t>(1, align / 128)));
    PutU16(b, align);
    PutU16(b, bits);
    if (withCbSize) {
        PutU16(b, uint32_t(extra.size()));
        b.insert(b.end(), extra.begin(), extra.end());
    }
    return b;
}

std::vector<uint8_t> MsAdpcmExtra(uint16_t samplesPerBlock) {
    std::vector<uint8_t> e;
    PutU16(e, samplesPerBlock);
    PutU16(e, 7);
    for (const auto& pair : MSADPCMCoefficients) {
        PutU16(e, uint16_t(pair[0]));
        PutU16(e, uint16_t(pair[1]));
    }
    return e;
}

std::vector<uint8_t> RandomBytes(Rng& rng, size_t count, bool quiet) {
    std::vector<uint8_t> b(count);
    for (auto& v : b) v = quiet ? uint8_t(rng.Below(5)) : uint8_t(rng.Next());
    return b;
}

// A well-formed file of one of the kinds this system meets.
std::vector<Chunk> BaseFile(Rng& rng) {
    std::vector<Chunk> chunks;
    const uint32_t kind = rng.Below(9);
    const uint16_t channels = uint16_t(1 + rng.Below(2));
    const uint32_t rate = (kind & 1) ? 8000 : 22050;
    std::vector<uint8_t> data;
    switch (kind) {
        case 0:
        case 1: {  // PCM 8 or 16 bits
            const uint16_t bits = kind == 0 ? 8 : 16;
            chunks.push_back(MakeChunk("fmt ", FormatBody(1, channels, rate, bits, uint16_t(channels * bits / 8), {}, false)));
            data = RandomBytes(rng, 64 + rng.Below(900), rng.OneIn(3));
            break;
        }
        case 2: {  // PCM 24 bits, or float
            const bool isFloat = rng.OneIn(2);
            chunks.push_back(MakeChunk("fmt ", FormatBody(isFloat ? 3 : 1, channels, rate, isFloat ? 32 : 24,
                                                          uint16_t(channels * (isFloat ? 4 : 3)), {}, isFloat)));
            data = RandomBytes(rng, 96 + rng.Below(900), false);
            break;
        }
        case 3: {  // extensible 24 or 32 bits
            std::vector<uint8_t> extra;
            PutU16(extra, 24);
            PutU32(extra, 3);
            PutU16(extra, rng.OneIn(2) ? 1 : 3);
            for (uint8_t b : {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71})
                extra.push_back(b);
            chunks.push_back(MakeChunk("fmt ", FormatBody(0xFFFE, channels, rate, 32, uint16_t(channels * 4), extra, true)));
            data = RandomBytes(rng, 128 + rng.Below(900), false);
            break;
        }
        case 4:
        case 5: {  // Microsoft ADPCM with blocks
            const uint16_t align = uint16_t(channels * (kind == 4 ? 64 : 256));
            const uint16_t spb = uint16_t((align - 7 * channels) * 8 / (4 * channels) + 2);
            chunks.push_back(MakeChunk("fmt ", FormatBody(2, channels, rate, 4, align, MsAdpcmExtra(spb), true)));
            std::vector<uint8_t> fact;
            PutU32(fact, spb * 3);
            chunks.push_back(MakeChunk("fact", fact));
            for (int block = 0; block < 3; ++block) {
                std::vector<uint8_t> b = RandomBytes(rng, align, false);
                for (uint16_t c = 0; c < channels; ++c) b[c] = uint8_t(rng.Below(7));
                for (uint16_t c = 0; c < channels; ++c) {
                    b[channels + 2 * c] = 16;
                    b[channels + 2 * c + 1] = 0;
                }
                data.insert(data.end(), b.begin(), b.end());
            }
            break;
        }
        case 6: {  // the nibble formats
            static const uint16_t tags[] = {3, 0x33, 0x206};
            chunks.push_back(MakeChunk("fmt ", FormatBody(tags[rng.Below(3)], channels, rate, 4, uint16_t(channels), {}, true)));
            data = RandomBytes(rng, 64 + rng.Below(600), false);
            break;
        }
        default: {  // any tag of the format table, with some extra bytes
            const uint16_t tag = FormatTagNameTable[rng.Below(uint32_t(FormatTagNameTable.size()))].tag;
            chunks.push_back(MakeChunk("fmt ", FormatBody(tag, channels, rate, uint16_t(rng.Below(33)),
                                                          uint16_t(1 + rng.Below(512)), RandomBytes(rng, rng.Below(40), false),
                                                          true)));
            data = RandomBytes(rng, 32 + rng.Below(700), false);
            break;
        }
    }
    chunks.push_back(MakeChunk("data", data));
    if (rng.OneIn(2)) {
        std::vector<uint8_t> info = {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M'};
        PutU32(info, 6);
        for (char c : std::string("Title\0", 6)) info.push_back(uint8_t(c));
        chunks.push_back(MakeChunk("LIST", info));
    }
    if (rng.OneIn(3)) {
        std::vector<uint8_t> disp;
        PutU32(disp, rng.OneIn(2) ? 1 : 8);
        const auto body = RandomBytes(rng, 8 + rng.Below(60), false);
        disp.insert(disp.end(), body.begin(), body.end());
        chunks.push_back(MakeChunk("DISP", disp));
    }
    return chunks;
}

uint32_t MutatedSize(Rng& rng, uint32_t size) {
    switch (rng.Below(6)) {
        case 0: return 0;
        case 1: return 0xFFFFFFFF;
        case 2: return size + rng.Below(9) - 4;
        case 3: return 0xFFFFFFF8 + rng.Below(8);
        case 4: return 0x80000000u + rng.Below(16);
        default: return rng.Next();
    }
}

void MutateChunks(std::vector<Chunk>& chunks, Rng& rng) {
    for (uint32_t n = 1 + rng.Below(3); n-- > 0 && !chunks.empty();) {
        const uint32_t at = rng.Below(uint32_t(chunks.size()));
        Chunk& c = chunks[at];
        switch (rng.Below(10)) {
            case 0: c.size = MutatedSize(rng, c.size); break;
            case 1: c.body.resize(rng.Below(uint32_t(c.body.size()) + 1)); break;  // cut, size kept
            case 2: chunks.insert(chunks.begin() + at, c); break;                   // duplicated
            case 3: std::swap(c, chunks[rng.Below(uint32_t(chunks.size()))]); break;  // swapped
            case 4: std::rotate(chunks.begin(), chunks.begin() + at, chunks.end()); break;  // reordered
            case 5:  // odd size without its pad
                if (c.body.size() % 2 == 0) c.body.push_back(uint8_t(rng.Next()));
                c.size = uint32_t(c.body.size());
                c.pad = false;
                break;
            case 6: chunks.erase(chunks.begin() + at); break;
            case 7:  // a format field set to an edge value
                if (c.id == "fmt " && c.body.size() >= 16) {
                    static const uint16_t edges[] = {0, 1, 2, 3, 7, 8, 0xFF, 0x7FFF, 0x8000, 0xFFFF};
                    const uint32_t field = rng.Below(8) * 2;
                    const uint16_t v = edges[rng.Below(10)];
                    c.body[field] = uint8_t(v);
                    c.body[field + 1] = uint8_t(v >> 8);
                }
                break;
            case 8:  // any tag the format table knows
                if (c.id == "fmt " && c.body.size() >= 2) {
                    const uint16_t tag = FormatTagNameTable[rng.Below(uint32_t(FormatTagNameTable.size()))].tag;
                    c.body[0] = uint8_t(tag);
                    c.body[1] = uint8_t(tag >> 8);
                }
                break;
            default:  // a damaged block header: predictor index out of range
                if (c.id == "data" && !c.body.empty()) c.body[rng.Below(uint32_t(c.body.size()))] = uint8_t(7 + rng.Below(249));
                break;
        }
    }
}

std::vector<uint8_t> Serialise(const std::vector<Chunk>& chunks, Rng& rng) {
    std::vector<uint8_t> out = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
    for (const Chunk& c : chunks) {
        out.insert(out.end(), c.id.begin(), c.id.end());
        PutU32(out, c.size);
        out.insert(out.end(), c.body.begin(), c.body.end());
        if (c.pad && (c.body.size() & 1)) out.push_back(0);
    }
    uint32_t riff = uint32_t(out.size() - 8);
    if (rng.OneIn(4)) riff = MutatedSize(rng, riff);
    for (int i = 0; i < 4; ++i) out[4 + i] = uint8_t(riff >> (8 * i));
    // Byte-level damage on top: flips and cuts.
    if (rng.OneIn(3))
        for (uint32_t n = 1 + rng.Below(4); n--;) out[rng.Below(uint32_t(out.size()))] ^= uint8_t(1u << rng.Below(8));
    if (rng.OneIn(6)) out.resize(rng.Below(uint32_t(out.size()) + 1));
    return out;
}

std::vector<uint8_t> MakeFile(uint32_t seed, uint32_t index) {
    Rng rng(uint64_t(seed) << 32 | index);
    std::vector<Chunk> chunks = BaseFile(rng);
    if (!rng.OneIn(8)) MutateChunks(chunks, rng);
    return Serialise(chunks, rng);
}

// ---- guard pages ----

// A block whose first byte follows an inaccessible page and whose last byte
// is followed by one: any access outside it faults at once.
class GuardedBuffer {
public:
    explicit GuardedBuffer(size_t size) : size_(size) {
        const size_t page = 4096;
        const size_t body = (size + page - 1) / page * page;
        total_ = body + 2 * page;
        base_ = static_cast<uint8_t*>(::VirtualAlloc(nullptr, total_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        ::VirtualProtect(base_, page, PAGE_NOACCESS, &old);
        ::VirtualProtect(base_ + page + body, page, PAGE_NOACCESS, &old);
        // Placed against the upper guard; the lower guard catches reads
        // before the block only when its size is whole pages.
        data_ = base_ + page + body - size;
    }
    ~GuardedBuffer() { ::VirtualFree(base_, 0, MEM_RELEASE); }
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;
    uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

private:
    uint8_t* base_ = nullptr;
    uint8_t* data_ = nullptr;
    size_t size_, total_ = 0;
};

// ---- failure reports ----

std::mutex g_currentLock;            // guards the three below
std::vector<uint8_t> g_current;      // the input being processed
uint32_t g_currentSeed = 0, g_currentIndex = 0;
std::atomic<uint64_t> g_heartbeat{0};

std::string FailurePath(uint32_t seed, uint32_t index) {
    return ProgramDir() + "\\mutation-" + std::to_string(seed) + "-" + std::to_string(index) + ".wav";
}

void WriteCurrentInput() {
    std::lock_guard<std::mutex> lock(g_currentLock);
    const std::string path = FailurePath(g_currentSeed, g_currentIndex);
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(g_current.data(), 1, g_current.size(), f);
        std::fclose(f);
    }
    std::fprintf(stderr, "mutation sweep: failing input written to %s (WC_MUTATION_SEED=%u, file %u)\n", path.c_str(),
                 g_currentSeed, g_currentIndex);
}

// Access faults and other hardware exceptions write the input out before
// the process goes down; C++ exceptions pass untouched.
LONG CALLBACK OnException(EXCEPTION_POINTERS* info) {
    switch (info->ExceptionRecord->ExceptionCode) {
        case EXCEPTION_ACCESS_VIOLATION:
        case EXCEPTION_STACK_OVERFLOW:
        case EXCEPTION_INT_DIVIDE_BY_ZERO:
        case EXCEPTION_INT_OVERFLOW:
        case EXCEPTION_ILLEGAL_INSTRUCTION:
        case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
        case EXCEPTION_IN_PAGE_ERROR:
            WriteCurrentInput();
            break;
        default:
            break;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

// Ends the process when the heartbeat stops for kWatchdogLimit.
class Watchdog {
public:
    Watchdog()
        : thread_([this] {
              std::unique_lock<std::mutex> lock(lock_);
              uint64_t seen = g_heartbeat.load();
              auto last = std::chrono::steady_clock::now();
              while (!stop_) {
                  wake_.wait_for(lock, std::chrono::milliseconds(500));
                  const uint64_t now = g_heartbeat.load();
                  if (now != seen) {
                      seen = now;
                      last = std::chrono::steady_clock::now();
                  } else if (std::chrono::steady_clock::now() - last > kWatchdogLimit) {
                      std::fprintf(stderr, "mutation sweep: a file hung for %lld s\n", (long long)kWatchdogLimit.count());
                      WriteCurrentInput();
                      std::fflush(stderr);
                      ::TerminateProcess(::GetCurrentProcess(), 3);
                  }
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(lock_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

private:
    std::mutex lock_;  // guards stop_
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

// ---- one file's round ----

struct Counts {
    uint32_t files = 0, opened = 0, read = 0, chained = 0, failures = 0;
};

void Fail(Counts& counts, const char* what) {
    ++counts.failures;
    if (counts.failures <= 5) {
        ADD_FAILURE() << what << " (file " << g_currentIndex << ")";
        WriteCurrentInput();
    }
}

// Peaks of a block as the preview scans it: 8 and 16 bits by PCMFindPeaks,
// wider PCM by PCMFindWidePeaks; the block lies in a guarded buffer.
void ScanPeaks(const WAVEFORMATEX* format, const uint8_t* data, uint32_t bytes) {
    int16_t a, b, c, d;
    if (PCMIsWideFormat(format))
        PCMFindWidePeaks(format, data, bytes, a, b, c, d);
    else
        PCMFindPeaks(format, data, bytes, a, b, c, d);
}

void LowLevelRound(const std::string& path, uint64_t fileBytes, Counts& counts) {
    PWaveIOHandle h = nullptr;
    const int code = WaveIOOpen(h, path.c_str());
    if (code != 0) {
        if (h) Fail(counts, "a failed open left a handle");
        if (IsWaveFile(path.c_str())) Fail(counts, "IsWaveFile disagrees with WaveIOOpen");
        return;
    }
    WaveIOHandlePtr owner(h);
    ++counts.opened;
    std::string name, description;
    WaveFormatTexts(&h->format, name, description);
    if (name.empty() || description.empty()) Fail(counts, "an empty format text");
    if (uint64_t(h->dataOffset) + h->dataBytes > fileBytes) Fail(counts, "data past the end of the file");
    if (WaveIOBeginAccess(h) != 0) {
        // A file that opens but cannot be read is exactly what must not be skipped.
        if (h->dataBytes > 0) Fail(counts, "a wave with samples opens but its access fails");
        if (h->file) Fail(counts, "a failed access left the file open");
        return;
    }
    GuardedBuffer buffer(777);
    uint64_t total = 0;
    for (int reads = 0; reads < kMaxReads; ++reads) {
        const int32_t got = WaveIORead(h, buffer.data(), int32_t(buffer.size()));
        if (got <= 0) break;
        total += uint32_t(got);
        ScanPeaks(&h->format, buffer.data(), uint32_t(got));
    }
    // Every byte of the readable range: the data, unless a format whose byte
    // rate disagrees with its sample rate makes the range hold fewer samples.
    const uint64_t readable =
        std::min(uint64_t(WaveSamplesToBytes64(&h->format, int64_t(h->totalSamples))), h->dataBytes);
    if (total != readable) Fail(counts, "not every sample byte was read");
    else ++counts.read;
    if (WaveIOEndAccess(h) != 0) Fail(counts, "ending a read access failed");
}

// The preview's chain: wave file, ADPCM converter, a sink pulling through
// guarded buffers.
void ChainRound(const std::string& path, Counts& counts) {
    wc::TComponent root{nullptr};
    auto& file = wc::MakeComponent<TMMWaveFile>(root);
    auto& converter = wc::MakeComponent<TMMADPCMConverter>(root);
    try {
        file.SetFileName(path);
    } catch (const EMMWaveError&) {
        return;  // refused by the wave object: a fine result
    }
    converter.SetInput(&file);
    try {
        file.Opened();
        converter.Opened();
        file.Started();
        converter.Started();
    } catch (const EMMADPCMError&) {
        return;  // a compressed format without a decoder
    } catch (const EMMWaveError&) {
        if (file.Wave().DataSize() > 0) Fail(counts, "the wave object cannot open a wave with samples");
        return;
    }
    const WAVEFORMATEX* out = converter.PWaveFormat();
    GuardedBuffer block(WaveHdrExSize + 1000);
    bool more = true;
    for (int pulls = 0; pulls < kMaxReads && more; ++pulls) {
        std::memset(block.data(), 0, WaveHdrExSize);
        auto* header = reinterpret_cast<WaveHdrEx*>(block.data());
        header->wh.lpData = reinterpret_cast<LPSTR>(block.data() + WaveHdrExSize);
        header->wh.dwBufferLength = 1000;
        more = false;
        converter.BufferLoad(header, more);
        if (header->wh.dwBytesRecorded > 1000) Fail(counts, "a pull reported more bytes than its buffer holds");
        if (header->wh.dwBytesRecorded == 0) break;
        if (out) ScanPeaks(out, WaveHdrData(header), header->wh.dwBytesRecorded);
    }
    if (more) Fail(counts, "the chain did not end");
    converter.Stopped();
    file.Stopped();
    converter.Closed();
    file.Closed();
    ++counts.chained;
}

TEST(MutationSweep, MutatedWaveFilesNeverFaultHangOrReadOutOfBounds) {
    const uint32_t seed = EnvOr("WC_MUTATION_SEED", kDefaultSeed);
    const uint32_t files = EnvOr("WC_MUTATION_FILES", kDefaultFiles);
    const uint32_t first = EnvOr("WC_MUTATION_FIRST", 0);
    // WC_MUTATION_DIR names a folder in memory (tmpfs) where there is one:
    // writing a file there costs an eighth of the disk's time.
    TempDir scratch("mut");
    const char* chosen = std::getenv("WC_MUTATION_DIR");
    std::string dir = scratch.path();
    if (chosen && *chosen) {
        ::CreateDirectoryA(chosen, nullptr);
        const DWORD attributes = ::GetFileAttributesA(chosen);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            dir = chosen;
        else
            std::printf("mutation sweep: %s is no folder; writing to %s\n", chosen, dir.c_str());
    }
    void* handler = ::AddVectoredExceptionHandler(1, OnException);
    Watchdog watchdog;
    Counts counts;
    const auto start = std::chrono::steady_clock::now();
    for (uint32_t index = first; index < first + files; ++index) {
        std::vector<uint8_t> bytes = MakeFile(seed, index);
        {
            std::lock_guard<std::mutex> lock(g_currentLock);
            g_current = bytes;
            g_currentSeed = seed;
            g_currentIndex = index;
        }
        // Two names in turn: the wave object reparses only a changed file.
        const std::string path = dir + (index & 1 ? "\\b.wav" : "\\a.wav");
        WriteFileBytes(path, bytes);
        ++counts.files;
        LowLevelRound(path, bytes.size(), counts);
        if (index % kChainEvery == 0) ChainRound(path, counts);
        g_heartbeat.fetch_add(1);
    }
    ::RemoveVectoredExceptionHandler(handler);
    for (const char* name : {"\\a.wav", "\\b.wav"}) ::DeleteFileA((dir + name).c_str());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("mutation sweep: seed %u, %u files, %u opened, %u read whole, %u through the chain, %.1f s\n", seed,
                counts.files, counts.opened, counts.read, counts.chained, seconds);
    EXPECT_EQ(counts.failures, 0u);
    // The mutations must leave enough files readable for the paths behind the open to be swept.
    EXPECT_GT(counts.opened, files / 4);
    EXPECT_GT(counts.chained, files / 50);
}

}  // namespace
