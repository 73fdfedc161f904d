// The decoder instances and the exported entry points of MMMPEG32.DLL.
//
// Threads: every entry point of one instance runs on one thread at a time,
// except mpeg_AbortReadData, which may come from any thread and only sets
// the instance's atomic abort flag; the read that sees it clears it. The
// table of live instances is guarded by `liveLock`, held only to look a
// handle up, add or remove it.
//
// No exception leaves an entry point: each answers MPEG_ERR_MEMORY for a
// failed allocation and MPEG_ERR_INTERNAL for anything else (as a negative
// count where it answers a count).
#include "mpegdec/MMMPEG32.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <numeric>
#include <string>
#include <vector>

#include "framework/Handles.h"
#include "mpegdec/FrameDecoder.h"
#include "mpegdec/MpegStream.h"

using namespace mpegdec;

namespace {

// Frames handed to the decoding step in one call, and their bytes at most.
constexpr size_t kBatchBytes = size_t(kFramesPerBatch) * kMaxFrameBytes;
// A frame's output depends on the frame before it (layer III's overlap, the
// synthesis filter bank's 512-sample history, longer than a layer I frame):
// a seek decodes this many frames before the one it needs and drops them.
constexpr uint32_t kSettleFrames = 2;
// Layer III takes up to 511 bytes of a frame's data from the frames before
// it: a seek also decodes earlier frames until their data holds this many
// bytes. A frame's data is counted as its size less the most its header,
// CRC and side information take (4 + 2 + 32 bytes), so never too much.
constexpr uint64_t kReservoirBytes = 511;
constexpr uint32_t kFrameOverheadBytes = 38;
// The synthesis filter bank keeps its history in a ring of 16 slots of 32
// samples, and a decoder's rounding may depend on where in the ring a
// frame starts: a seek starts at a frame whose first sample is a multiple
// of 16 * 32 samples from the start, as in a decode from the start.
constexpr uint32_t kSynthesisRingSamples = 512;
// Layer III's synthesis puts 529 samples before the first one of the stream;
// the encoder's tag counts its padding with them.
constexpr uint32_t kLayer3DecoderDelay = 529;
// The file is read through a cache of this many bytes: many frames per
// system call, little memory.
constexpr size_t kCacheBytes = 64 * 1024;
// An audio area up to this size is indexed whole when the file is set (a
// few milliseconds); a larger one is indexed as far as reads and seeks go,
// its frame count meanwhile taken from its information frame or its size.
constexpr uint64_t kEagerIndexBytes = 1024 * 1024;

// The set file, read in pieces through a cache and decrypted as it is read.
class FileSource final : public ByteSource {
public:
    int32_t Open(const std::string& name, MpegDecryptProc decrypt, uint32_t user) {
        file_.reset(::CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!file_) return MPEG_ERR_OPEN;
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(file_.get(), &size)) return MPEG_ERR_READ;
        size_ = uint64_t(size.QuadPart);
        decrypt_ = decrypt;
        user_ = user;
        return MPEG_OK;
    }

    uint64_t Size() const override { return size_; }

    int64_t Read(uint64_t offset, std::span<uint8_t> out) override {
        if (offset >= size_) return 0;
        const size_t count = size_t(std::min<uint64_t>(out.size(), size_ - offset));
        if (offset < cacheAt_ || offset + count > cacheAt_ + cacheBytes_) {
            if (count >= kCacheBytes) return ReadRaw(offset, out.data(), count);
            cache_.resize(kCacheBytes);
            const int64_t got = ReadRaw(offset, cache_.data(), size_t(std::min<uint64_t>(kCacheBytes, size_ - offset)));
            cacheAt_ = offset;
            cacheBytes_ = got < 0 ? 0 : size_t(got);
            if (got < 0) return -1;
        }
        const size_t have = size_t(std::min<uint64_t>(count, cacheAt_ + cacheBytes_ - offset));
        std::memcpy(out.data(), cache_.data() + (offset - cacheAt_), have);
        return int64_t(have);
    }

private:
    // Bytes straight from the file, decrypted (the callback takes the
    // low 32 bits of the file offset).
    int64_t ReadRaw(uint64_t offset, uint8_t* to, size_t count) {
        LARGE_INTEGER at{};
        at.QuadPart = LONGLONG(offset);
        if (!::SetFilePointerEx(file_.get(), at, nullptr, FILE_BEGIN)) return -1;
        size_t done = 0;
        while (done < count) {
            DWORD got = 0;
            const DWORD want = DWORD(std::min<size_t>(count - done, 1 << 20));
            if (!::ReadFile(file_.get(), to + done, want, &got, nullptr)) return -1;
            if (got == 0) break;
            done += got;
        }
        if (decrypt_ && done > 0) decrypt_(user_, uint32_t(offset), to, uint32_t(done));
        return int64_t(done);
    }

    wc::FileHandle file_;
    uint64_t size_ = 0;
    MpegDecryptProc decrypt_ = nullptr;
    uint32_t user_ = 0;
    std::vector<uint8_t> cache_;
    uint64_t cacheAt_ = 0;
    size_t cacheBytes_ = 0;
};

struct Decoder {
    MpegNotifyProc notify = nullptr;
    void* user = nullptr;
    MpegDecryptProc decrypt = nullptr;
    uint32_t decryptUser = 0;
    uint8_t decryptMode = 0;
    uint32_t trailing = 0;
    uint32_t fileOffset = 0;
    bool exact = false;
    uint8_t channelMode = MpegBoth;

    std::string fileName;
    std::unique_ptr<FileSource> source;
    StreamLayout layout;
    FrameIndex index;
    bool empty = true;
    int32_t bitRateKbps = 0;
    // The decoder's raw output less these sample frames at the start (the
    // encoder's delay and layer III's own) and at the end (the encoder's
    // padding) is the stream, sample for sample.
    uint64_t skipStart = 0;
    uint64_t trimEnd = 0;

    // Open state.
    bool open = false;
    std::unique_ptr<FrameDecoder> codec;
    std::vector<uint8_t> batch;  // the frames of one decoding call
    uint32_t nextFrame = 0;      // the next frame to hand to the decoder
    std::vector<int16_t> fifo;   // decoded, not yet delivered samples (decoder channels)
    size_t fifoAt = 0;           // first undelivered sample in fifo
    uint64_t discardSamples = 0; // decoded sample frames of pre-roll frames still to drop
    uint64_t position = 0;       // the stream's sample frame delivered next
    bool drained = false;        // the decoder has been flushed: fifo holds the rest
    bool done = false;
    // Where an open starts: a frame, and the same place as a sample.
    uint32_t closedPosition = 0;
    uint64_t closedSample = 0;
    std::atomic<bool> abort{false};
};

wc::CriticalSection liveLock;
std::map<Decoder*, std::unique_ptr<Decoder>> live;  // guarded by liveLock

Decoder* Find(MpegHandle handle) {
    wc::CriticalSectionLock lock(liveLock);
    auto it = live.find(static_cast<Decoder*>(handle));
    return it == live.end() ? nullptr : it->second.get();
}

// The frame count: exact once the index is complete; before, the count
// the information frame gives, or the audio area over the first frame's
// average size (exact for a constant rate without padding).
int32_t Frames(const Decoder& d) {
    const FrameIndex& index = d.index;
    if (index.Complete() || index.Count() == 0) return int32_t(std::min<size_t>(index.Count(), INT32_MAX));
    int64_t frames = index.Info.Frames;
    if (frames <= 0) {
        const FrameHeader& h = index.First;
        const double averageBytes = h.SamplesPerFrame() / 8.0 * h.BitRateKbps * 1000.0 / h.SampleRate;
        frames = std::llround(double(d.layout.AudioEnd - index.Offsets[0]) / averageBytes);
    }
    return int32_t(std::clamp<int64_t>(std::max<int64_t>(frames, int64_t(index.Count())), 0, INT32_MAX));
}

// Indexes on until `count` frames are known or the file ends.
int32_t Need(Decoder& d, size_t count) {
    if (d.index.Count() >= count || d.index.Complete()) return MPEG_OK;
    return d.index.Extend(*d.source, count) ? MPEG_OK : MPEG_ERR_READ;
}

int Channels(const Decoder& d) { return d.index.First.Channels(); }

uint32_t SamplesPerFrame(const Decoder& d) { return uint32_t(d.index.First.SamplesPerFrame()); }

// Sample frames of the stream after trimming.
uint64_t Length(const Decoder& d) {
    const uint64_t raw = uint64_t(Frames(d)) * SamplesPerFrame(d);
    return raw > d.skipStart + d.trimEnd ? raw - d.skipStart - d.trimEnd : 0;
}

// The frame the next sample lies in; the frame count once the end is reached.
int32_t FramePosition(const Decoder& d) {
    if (d.done) return Frames(d);
    return int32_t(std::min<uint64_t>(d.position / SamplesPerFrame(d), uint64_t(Frames(d))));
}

int OutChannels(const Decoder& d) { return Channels(d) == 2 && d.channelMode == MpegBoth ? 2 : 1; }

void Notify(Decoder& d, int32_t status) {
    if (d.notify) d.notify(status, d.user);
}

// The average bit rate over the frames [first, first + count), in kbit/s.
int32_t AverageKbps(const Decoder& d, uint32_t first, uint32_t count) {
    if (count == 0) return 0;
    uint64_t bytes = 0;
    for (uint32_t i = first; i < first + count; ++i) bytes += d.index.Sizes[i];
    const double seconds = double(count) * d.index.First.SamplesPerFrame() / d.index.First.SampleRate;
    return int32_t(std::lround(double(bytes) * 8 / seconds / 1000));
}

// The ".scn" file beside a file: its name with the extension replaced.
// Layout (little-endian): "MSCN", format 1 (u32), the file's size (u64),
// frames (u32), average bit rate in kbit/s (u32).
std::string ScanFileName(const std::string& name) {
    const size_t slash = name.find_last_of("\\/:");
    const size_t dot = name.find_last_of('.');
    const std::string stem = dot != std::string::npos && (slash == std::string::npos || dot > slash) ? name.substr(0, dot) : name;
    return stem + ".scn";
}

struct ScanRecord {
    char magic[4];
    uint32_t format;
    uint64_t fileSize;
    uint32_t frames;
    uint32_t kbps;
};
static_assert(sizeof(ScanRecord) == 24);

bool ReadScanFile(Decoder& d) {
    wc::FileHandle f(::CreateFileA(ScanFileName(d.fileName).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!f) return false;
    ScanRecord rec{};
    DWORD got = 0;
    if (!::ReadFile(f.get(), &rec, sizeof rec, &got, nullptr) || got != sizeof rec) return false;
    if (std::memcmp(rec.magic, "MSCN", 4) != 0 || rec.format != 1 || rec.fileSize != d.source->Size() ||
        (d.index.Complete() && rec.frames != uint32_t(Frames(d))))
        return false;
    d.bitRateKbps = int32_t(std::min<uint32_t>(rec.kbps, 10000));
    return true;
}

bool WriteScanFile(const Decoder& d) {
    wc::FileHandle f(::CreateFileA(ScanFileName(d.fileName).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!f) return false;
    ScanRecord rec{{'M', 'S', 'C', 'N'}, 1, d.source->Size(), uint32_t(Frames(d)), uint32_t(d.bitRateKbps)};
    DWORD put = 0;
    return ::WriteFile(f.get(), &rec, sizeof rec, &put, nullptr) && put == sizeof rec;
}

// Hands the next batch of frames to the decoder, or flushes it after the last.
int32_t DecodeMore(Decoder& d) {
    if (d.fifoAt == d.fifo.size()) {
        d.fifo.clear();
        d.fifoAt = 0;
    }
    if (Need(d, size_t(d.nextFrame) + kFramesPerBatch) != MPEG_OK) return MPEG_ERR_READ;
    const size_t frames = d.index.Count();
    if (d.nextFrame >= frames) {
        d.drained = true;
        return d.codec->Finish(d.fifo);
    }
    d.batch.resize(kBatchBytes);
    size_t used = 0;
    uint32_t taken = 0;
    while (d.nextFrame + taken < frames && taken < kFramesPerBatch) {
        const uint32_t i = d.nextFrame + taken;
        const size_t size = d.index.Sizes[i];
        if (used + size > kBatchBytes) break;
        if (d.source->Read(d.index.Offsets[i], std::span<uint8_t>(d.batch.data() + used, size)) != int64_t(size))
            return MPEG_ERR_READ;
        used += size;
        ++taken;
    }
    if (taken == 0) return MPEG_ERR_DECODE;
    d.nextFrame += taken;
    return d.codec->Decode(std::span<const uint8_t>(d.batch.data(), used), d.fifo);
}

// The frame a seek starts decoding at so that frame `frame` comes out as a
// decode from the start gives it.
uint32_t PreRollStart(const Decoder& d, uint32_t frame) {
    uint32_t start = frame > kSettleFrames ? frame - kSettleFrames : 0;
    if (d.index.First.Layer == 3) {
        uint64_t bytes = 0;
        while (start > 0 && bytes < kReservoirBytes) {
            const uint32_t size = d.index.Sizes[--start];
            bytes += size > kFrameOverheadBytes ? size - kFrameOverheadBytes : 0;
        }
    }
    const uint32_t period = kSynthesisRingSamples / std::gcd(SamplesPerFrame(d), kSynthesisRingSamples);
    return start / period * period;
}

// Starts decoding so that the next sample delivered is the stream's sample
// `sample` (at most its length).
int32_t StartAt(Decoder& d, uint64_t sample) {
    if (!d.codec) d.codec = MakeFrameDecoder();
    int32_t status = d.codec->Start(d.index.First);
    if (status != MPEG_OK) return status;
    status = Need(d, size_t((sample + d.skipStart) / SamplesPerFrame(d)) + 1);
    if (status != MPEG_OK) return status;
    if (d.index.Complete()) sample = std::min(sample, Length(d));
    d.fifo.clear();
    d.fifoAt = 0;
    d.position = sample;
    const uint64_t raw = sample + d.skipStart;
    const uint32_t frame = uint32_t(raw / SamplesPerFrame(d));
    d.drained = d.done = frame >= d.index.Count() || (d.index.Complete() && sample >= Length(d));
    if (d.done) {
        d.nextFrame = uint32_t(d.index.Count());
        return MPEG_OK;
    }
    d.nextFrame = PreRollStart(d, frame);
    d.discardSamples = raw - uint64_t(d.nextFrame) * SamplesPerFrame(d);
    return MPEG_OK;
}

void CloseFile(Decoder& d) {
    if (!d.open) return;
    d.closedPosition = uint32_t(FramePosition(d));
    d.closedSample = d.position;
    d.codec.reset();
    d.fifo.clear();
    d.fifoAt = 0;
    d.open = false;
}

void ClearFile(Decoder& d) {
    CloseFile(d);
    d.fileName.clear();
    d.source.reset();
    d.layout = StreamLayout{};
    d.index = FrameIndex{};
    d.empty = true;
    d.bitRateKbps = 0;
    d.skipStart = d.trimEnd = 0;
    d.closedPosition = 0;
    d.closedSample = 0;
}

int32_t SetFile(Decoder& d, const char* name) {
    ClearFile(d);
    if (!name || !*name) return MPEG_ERR_NO_FILE;
    if (d.decryptMode != 0 && !d.decrypt) return MPEG_ERR_NO_CALLBACK;
    auto source = std::make_unique<FileSource>();
    int32_t status = source->Open(name, d.decryptMode != 0 ? d.decrypt : nullptr, d.decryptUser);
    if (status != MPEG_OK) return status;
    StreamLayout layout;
    switch (FindLayout(*source, d.fileOffset, d.trailing, layout)) {
    case LayoutResult::Id3v2PastEnd: return MPEG_ERR_ID3V2_SIZE;
    case LayoutResult::WaveWithoutMpeg: return MPEG_ERR_WAVE_NO_MPEG;
    case LayoutResult::ReadError: return MPEG_ERR_READ;
    case LayoutResult::Ok: break;
    }
    FrameIndex index;
    index.Reset(layout);
    const bool eager = layout.AudioEnd - layout.AudioStart <= kEagerIndexBytes;
    if (!index.Extend(*source, eager ? SIZE_MAX : 1)) return MPEG_ERR_READ;
    if (index.Offsets.empty()) {
        if (index.SawFreeFormat) return MPEG_ERR_FREE_FORMAT;
        if (index.SawReserved) return MPEG_ERR_RESERVED_FIELD;
        return MPEG_ERR_NO_FRAMES;
    }
    d.fileName = name;
    d.source = std::move(source);
    d.layout = layout;
    d.index = std::move(index);
    d.empty = false;
    if (d.index.Info.Gapless) {
        const uint32_t decoderDelay = d.index.First.Layer == 3 ? kLayer3DecoderDelay : 0;
        d.skipStart = uint64_t(d.index.Info.EncoderDelay) + decoderDelay;
        d.trimEnd = d.index.Info.EncoderPadding > decoderDelay ? d.index.Info.EncoderPadding - decoderDelay : 0;
    }
    // A variable-rate file tells its rate only after a scan.
    d.bitRateKbps = d.index.Info.VariableRate ? 0 : d.index.First.BitRateKbps;
    if (d.bitRateKbps == 0) ReadScanFile(d);
    return MPEG_OK;
}

int32_t OpenFile(Decoder& d) {
    if (d.empty) return MPEG_ERR_NO_FILE;
    if (d.open) return MPEG_OK;
    d.abort = false;
    const int32_t status = StartAt(d, d.closedSample);
    if (status != MPEG_OK) {
        d.codec.reset();
        return status;
    }
    d.open = true;
    return MPEG_OK;
}

// Copies delivered samples out in the output channel layout.
int32_t Deliver(Decoder& d, uint8_t* out, uint32_t frames) {
    const int in = Channels(d);
    const int outCh = OutChannels(d);
    const int16_t* s = d.fifo.data() + d.fifoAt;
    if (in == outCh) {
        // Every channel as decoded.
        std::memcpy(out, s, size_t(frames) * in * 2);
        s += size_t(frames) * in;
        frames = 0;
    }
    int16_t value[2];
    for (uint32_t i = 0; i < frames; ++i, s += in) {
        if (in == 1 || d.channelMode == MpegBoth) {
            value[0] = s[0];
            value[1] = in == 2 ? s[1] : 0;
        } else if (d.channelMode == MpegLeft) {
            value[0] = s[0];
        } else if (d.channelMode == MpegRight) {
            value[0] = s[1];
        } else {
            value[0] = int16_t((int32_t(s[0]) + s[1]) / 2);
        }
        std::memcpy(out + size_t(i) * outCh * 2, value, size_t(outCh) * 2);
    }
    const size_t delivered = size_t(s - (d.fifo.data() + d.fifoAt)) / size_t(in);
    d.fifoAt += delivered * in;
    d.position += delivered;
    return int32_t(delivered) * outCh * 2;
}

// Sample frames left before the stream's end, once the end is known.
uint64_t Left(const Decoder& d) {
    if (!d.index.Complete()) return UINT64_MAX;
    return Length(d) - std::min(d.position, Length(d));
}

// Decoded sample frames waiting in the fifo.
size_t Available(const Decoder& d) { return (d.fifo.size() - d.fifoAt) / size_t(Channels(d)); }

// Drops what a seek's pre-roll decoded before the frame asked for.
void DiscardPreRoll(Decoder& d) {
    const uint64_t drop = std::min<uint64_t>(d.discardSamples, Available(d));
    d.fifoAt += size_t(drop) * size_t(Channels(d));
    d.discardSamples -= drop;
}

int32_t Read(Decoder& d, void* buffer, int32_t count, int32_t* frameOut) {
    if (!d.open) return -MPEG_ERR_NOT_OPEN;
    if (!buffer || count < 0) return -MPEG_ERR_ARGUMENT;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    const uint32_t block = uint32_t(OutChannels(d)) * 2;
    uint32_t wanted = uint32_t(count) / block;
    int32_t written = 0;
    // An abort that came before this read cancels it too.
    while (wanted > 0 && !d.abort.exchange(false)) {
        DiscardPreRoll(d);
        const size_t available = Available(d);
        // Never past the stream's end, which may come before the decoder's.
        const uint64_t left = Left(d);
        if (left == 0) break;
        if (available > 0) {
            const uint32_t now = uint32_t(std::min<uint64_t>(std::min<uint64_t>(available, wanted), left));
            written += Deliver(d, out + written, now);
            wanted -= now;
            continue;
        }
        if (d.drained) break;
        const int32_t status = DecodeMore(d);
        if (status != MPEG_OK) return -status;
    }
    // With every frame handed in and nothing left to deliver, flush now: the
    // read that returns the last sample must be the one that says so.
    while (!d.drained && Left(d) > 0 && (DiscardPreRoll(d), Available(d) == 0)) {
        if (Need(d, size_t(d.nextFrame) + 1) != MPEG_OK) return -MPEG_ERR_READ;
        if (d.nextFrame < d.index.Count()) break;
        const int32_t status = DecodeMore(d);
        if (status != MPEG_OK) return -status;
    }
    DiscardPreRoll(d);
    d.done = Left(d) == 0 || (d.drained && Available(d) == 0);
    if (frameOut) *frameOut = FramePosition(d);
    return written;
}

const char* ErrorText(int32_t code) {
    switch (code) {
    case MPEG_OK: return "No error";
    case MPEG_ERR_HANDLE: return "Invalid decoder handle";
    case MPEG_ERR_NO_FILE: return "No MPEG file set";
    case MPEG_ERR_OPEN: return "Unable to open the file";
    case MPEG_ERR_READ: return "Error reading the file";
    case MPEG_ERR_NO_FRAMES: return "No MPEG audio frames found in the file";
    case MPEG_ERR_FREE_FORMAT: return "Free format bit rate is not supported";
    case MPEG_ERR_RESERVED_FIELD: return "Frame header with a reserved bit rate or sample rate";
    case MPEG_ERR_ID3V2_SIZE: return "ID3v2 tag size points past the end of the file";
    case MPEG_ERR_NO_LAYER3_CODEC: return "No MPEG layer-3 decoder (format 0x0055) is installed";
    case MPEG_ERR_NO_LAYER12_CODEC: return "No MPEG layer-1/2 decoder (format 0x0050) is installed";
    case MPEG_ERR_DECODE: return "The MPEG decoder failed";
    case MPEG_ERR_NOT_OPEN: return "The MPEG file is not open";
    case MPEG_ERR_POSITION: return "Frame position out of range";
    case MPEG_ERR_ARGUMENT: return "Invalid argument";
    case MPEG_ERR_WRITE: return "Unable to write the file";
    case MPEG_ERR_TOO_LARGE: return "The file is larger than 2 GB";
    case MPEG_ERR_NO_CALLBACK: return "No decrypt callback set";
    case MPEG_ERR_WAVE_NO_MPEG: return "The WAVE file holds no MPEG audio data";
    case MPEG_ERR_BUSY: return "The MPEG file is open";
    case MPEG_ERR_MEMORY: return "Not enough memory";
    case MPEG_ERR_INTERNAL: return "Internal error in the MPEG decoder";
    default: return nullptr;
    }
}

}  // namespace

// Runs an entry point's body: no exception leaves the library.
template <class Result, class Body>
Result Guarded(Result onMemory, Result onOther, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return onMemory;
    } catch (...) {
        return onOther;
    }
}

// ---- entry points ----

MMMPEG32_API int32_t WINAPI mpeg_Version() { return MpegLibraryVersion; }

MMMPEG32_API MpegHandle WINAPI mpeg_Init(int32_t* status, MpegNotifyProc notify, void* user) {
    Decoder* handle = nullptr;
    const int32_t result = Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        auto decoder = std::make_unique<Decoder>();
        decoder->notify = notify;
        decoder->user = user;
        Decoder* made = decoder.get();
        wc::CriticalSectionLock lock(liveLock);
        live.emplace(made, std::move(decoder));
        handle = made;
        return MPEG_OK;
    });
    if (status) *status = result;
    return handle;
}

MMMPEG32_API void WINAPI mpeg_Done(MpegHandle* handle) {
    if (!handle) return;
    std::unique_ptr<Decoder> owned;
    {
        wc::CriticalSectionLock lock(liveLock);
        auto it = live.find(static_cast<Decoder*>(*handle));
        if (it == live.end()) return;
        owned = std::move(it->second);
        live.erase(it);
    }
    // Closing frees and never allocates.
    CloseFile(*owned);
    *handle = nullptr;
}

#define DECODER_OR(fail)                 \
    Decoder* d = Find(handle);           \
    if (!d) return fail

MMMPEG32_API int32_t WINAPI mpeg_SetDecryptCallback(MpegHandle handle, MpegDecryptProc callback, uint32_t user) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        DECODER_OR(MPEG_ERR_HANDLE);
        d->decrypt = callback;
        d->decryptUser = user;
        return MPEG_OK;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_SetDecryptMode(MpegHandle handle, uint8_t mode) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        DECODER_OR(MPEG_ERR_HANDLE);
        d->decryptMode = mode;
        return MPEG_OK;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_Clear(MpegHandle handle) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        DECODER_OR(MPEG_ERR_HANDLE);
        ClearFile(*d);
        Notify(*d, MPEG_OK);
        return MPEG_OK;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_SetTrailingHeader(MpegHandle handle, uint32_t size) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        DECODER_OR(MPEG_ERR_HANDLE);
        if (size == d->trailing) return MPEG_OK;
        d->trailing = size;
        if (d->empty) return MPEG_OK;
        // The audio area changes at once: the file is indexed again, and an
        // open file goes on from where it was (or its new end).
        const bool wasOpen = d->open;
        CloseFile(*d);
        const uint32_t position = d->closedPosition;
        const uint64_t sample = d->closedSample;
        const std::string name = d->fileName;
        int32_t status = SetFile(*d, name.c_str());
        if (status == MPEG_OK) {
            d->closedPosition = std::min(position, uint32_t(Frames(*d)));
            d->closedSample = std::min(sample, Length(*d));
            if (wasOpen) status = OpenFile(*d);
        }
        Notify(*d, status);
        return status;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_SetExactPosition(MpegHandle handle, BOOL exact) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        DECODER_OR(MPEG_ERR_HANDLE);
        d->exact = exact != FALSE;
        return MPEG_OK;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_SetFileOffset(MpegHandle handle, uint32_t offset) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        DECODER_OR(MPEG_ERR_HANDLE);
        d->fileOffset = offset;
        return MPEG_OK;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_SetFileName(MpegHandle handle, const char* fileName) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        DECODER_OR(MPEG_ERR_HANDLE);
        const int32_t status = SetFile(*d, fileName);
        Notify(*d, status);
        return status;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_GetFileName(MpegHandle handle, char* buffer, int32_t size) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        DECODER_OR(MPEG_ERR_HANDLE);
        if (!buffer || size <= 0) return MPEG_ERR_ARGUMENT;
        const size_t n = std::min<size_t>(d->fileName.size(), size_t(size) - 1);
        std::memcpy(buffer, d->fileName.data(), n);
        buffer[n] = 0;
        return MPEG_OK;
    });
}

MMMPEG32_API BOOL WINAPI mpeg_GetEmpty(MpegHandle handle) {
    return Guarded<BOOL>(TRUE, TRUE, [&]() -> BOOL {
        DECODER_OR(TRUE);
        return d->empty ? TRUE : FALSE;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_GetFileInfo(MpegHandle handle, MpegFileInfoRec* info) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        DECODER_OR(MPEG_ERR_HANDLE);
        if (!info) return MPEG_ERR_ARGUMENT;
        if (d->empty) return MPEG_ERR_NO_FILE;
        const FrameHeader& h = d->index.First;
        MpegFileInfoRec rec{};
        rec.Version = h.Version == MpegVersion::Mpeg1 ? 1 : 0;
        rec.Layer = h.Layer;
        rec.Channels = h.Channels();
        rec.SampleRate = h.SampleRate;
        rec.BitRate = d->bitRateKbps;
        rec.Mode = uint8_t(h.ModeBits);
        rec.Frames = Frames(*d);
        rec.MsPerFrame = h.SamplesPerFrame() * 1000.0 / h.SampleRate;
        rec.PlayTimeMs = int32_t(std::lround(rec.Frames * rec.MsPerFrame));
        rec.VersionDetail = h.Version == MpegVersion::Mpeg1 ? 10 : h.Version == MpegVersion::Mpeg2 ? 20 : 25;
        if (d->layout.HasId3v1) std::memcpy(rec.Tag, d->layout.Id3v1, sizeof rec.Tag);
        std::memcpy(info, &rec, sizeof rec);
        return MPEG_OK;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_SetChannelMode(MpegHandle handle, int32_t mode) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        DECODER_OR(MPEG_ERR_HANDLE);
        if (mode < MpegLeft || mode > MpegDownMix) return MPEG_ERR_ARGUMENT;
        if (d->open) return MPEG_ERR_BUSY;
        d->channelMode = uint8_t(mode);
        return MPEG_OK;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_GetChannelMode(MpegHandle handle, uint8_t* mode) {
    return Guarded<int32_t>(int32_t(MpegBoth), int32_t(MpegBoth), [&]() -> int32_t {
        DECODER_OR(MpegBoth);
        if (mode) *mode = d->channelMode;
        return d->channelMode;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_SetPosition(MpegHandle handle, int32_t frame) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        DECODER_OR(MPEG_ERR_HANDLE);
        if (d->empty) return MPEG_ERR_NO_FILE;
        if (frame < 0 || frame > Frames(*d)) return MPEG_ERR_POSITION;
        if (!d->open) {
            d->closedPosition = uint32_t(frame);
            d->closedSample = uint64_t(frame) * SamplesPerFrame(*d);
            return MPEG_OK;
        }
        return StartAt(*d, uint64_t(frame) * SamplesPerFrame(*d));
    });
}

MMMPEG32_API int32_t WINAPI mpeg_SetSamplePosition(MpegHandle handle, uint32_t sample) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        DECODER_OR(MPEG_ERR_HANDLE);
        if (d->empty) return MPEG_ERR_NO_FILE;
        if (sample > Length(*d)) return MPEG_ERR_POSITION;
        if (!d->open) {
            d->closedSample = sample;
            d->closedPosition = uint32_t(sample / SamplesPerFrame(*d));
            return MPEG_OK;
        }
        return StartAt(*d, sample);
    });
}

MMMPEG32_API int32_t WINAPI mpeg_GetPosition(MpegHandle handle) {
    return Guarded<int32_t>(0, 0, [&]() -> int32_t {
        DECODER_OR(0);
        if (d->empty) return 0;
        if (!d->open) return int32_t(d->closedPosition);
        return FramePosition(*d);
    });
}

MMMPEG32_API int32_t WINAPI mpeg_OpenFile(MpegHandle handle) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        DECODER_OR(MPEG_ERR_HANDLE);
        return OpenFile(*d);
    });
}

MMMPEG32_API int32_t WINAPI mpeg_CloseFile(MpegHandle handle) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        DECODER_OR(MPEG_ERR_HANDLE);
        CloseFile(*d);
        return MPEG_OK;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_ResetFile(MpegHandle handle) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        DECODER_OR(MPEG_ERR_HANDLE);
        if (!d->open) return MPEG_ERR_NOT_OPEN;
        return StartAt(*d, 0);
    });
}

MMMPEG32_API int32_t WINAPI mpeg_ReadDataBytes(MpegHandle handle, void* buffer, int32_t count) {
    return Guarded<int32_t>(-MPEG_ERR_MEMORY, -MPEG_ERR_INTERNAL, [&]() -> int32_t {
        DECODER_OR(-MPEG_ERR_HANDLE);
        return Read(*d, buffer, count, nullptr);
    });
}

MMMPEG32_API int32_t WINAPI mpeg_ReadDataBytesEx(MpegHandle handle, void* buffer, int32_t count, int32_t* frame) {
    return Guarded<int32_t>(-MPEG_ERR_MEMORY, -MPEG_ERR_INTERNAL, [&]() -> int32_t {
        DECODER_OR(-MPEG_ERR_HANDLE);
        return Read(*d, buffer, count, frame);
    });
}

MMMPEG32_API int32_t WINAPI mpeg_AbortReadData(MpegHandle handle) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        DECODER_OR(MPEG_ERR_HANDLE);
        d->abort = true;
        return MPEG_OK;
    });
}

MMMPEG32_API BOOL WINAPI mpeg_GetDone(MpegHandle handle) {
    return Guarded<BOOL>(TRUE, TRUE, [&]() -> BOOL {
        DECODER_OR(TRUE);
        if (d->empty) return TRUE;
        return d->open ? (d->done ? TRUE : FALSE) : (d->closedPosition >= uint32_t(Frames(*d)) ? TRUE : FALSE);
    });
}

MMMPEG32_API int32_t WINAPI mpeg_ScanFile(MpegHandle handle, uint8_t writeScanFile, uint32_t reserved1, uint32_t reserved2) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        DECODER_OR(MPEG_ERR_HANDLE);
        if (d->empty) return MPEG_ERR_NO_FILE;
        if (reserved1 != 0 || reserved2 != 0) return MPEG_ERR_ARGUMENT;
        if (Need(*d, SIZE_MAX) != MPEG_OK) return MPEG_ERR_READ;
        d->bitRateKbps = AverageKbps(*d, 0, uint32_t(Frames(*d)));
        if (writeScanFile && !WriteScanFile(*d)) return MPEG_ERR_WRITE;
        Notify(*d, MPEG_OK);
        return MPEG_OK;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_ScanFileEx(MpegHandle handle, uint32_t firstFrame, uint32_t count) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        DECODER_OR(MPEG_ERR_HANDLE);
        if (d->empty) return MPEG_ERR_NO_FILE;
        if (Need(*d, SIZE_MAX) != MPEG_OK) return MPEG_ERR_READ;
        const uint32_t frames = uint32_t(Frames(*d));
        if (firstFrame >= frames) return MPEG_ERR_POSITION;
        const uint32_t n = count == 0 ? frames - firstFrame : std::min(count, frames - firstFrame);
        d->bitRateKbps = AverageKbps(*d, firstFrame, n);
        Notify(*d, MPEG_OK);
        return MPEG_OK;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_EncryptFile(MpegHandle handle, const char* fileName, uint32_t startOffset, uint32_t length,
                                            uint32_t reserved) {
    return Guarded<int32_t>(MPEG_ERR_MEMORY, MPEG_ERR_INTERNAL, [&]() -> int32_t {
        DECODER_OR(MPEG_ERR_HANDLE);
        if (d->fileName.empty()) return MPEG_ERR_NO_FILE;
        if (!fileName || !*fileName || reserved != 0) return MPEG_ERR_ARGUMENT;
        if (!d->decrypt) return MPEG_ERR_NO_CALLBACK;
        // The plain bytes of the set file, as they are on disk, in pieces.
        FileSource plain;
        const int32_t status = plain.Open(d->fileName, nullptr, 0);
        if (status != MPEG_OK) return status;
        const uint64_t size = plain.Size();
        const uint64_t start = std::min<uint64_t>(startOffset, size);
        const uint64_t end = length == 0 ? size : std::min<uint64_t>(start + length, size);
        wc::FileHandle f(::CreateFileA(fileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        if (!f) return MPEG_ERR_WRITE;
        std::vector<uint8_t> piece(kCacheBytes);
        for (uint64_t at = 0; at < size; at += piece.size()) {
            const size_t count = size_t(std::min<uint64_t>(piece.size(), size - at));
            if (plain.Read(at, std::span<uint8_t>(piece.data(), count)) != int64_t(count)) return MPEG_ERR_READ;
            const uint64_t from = std::max(at, start), to = std::min(at + count, end);
            if (to > from) d->decrypt(d->decryptUser, uint32_t(from), piece.data() + (from - at), uint32_t(to - from));
            DWORD put = 0;
            if (!::WriteFile(f.get(), piece.data(), DWORD(count), &put, nullptr) || put != count) return MPEG_ERR_WRITE;
        }
        return MPEG_OK;
    });
}

MMMPEG32_API BOOL WINAPI mpeg_ReadID3Tag(MpegHandle handle, uint8_t* tag) {
    return Guarded<BOOL>(FALSE, FALSE, [&]() -> BOOL {
        DECODER_OR(FALSE);
        if (!tag || d->empty || !d->layout.HasId3v1) return FALSE;
        std::memcpy(tag, d->layout.Id3v1, 128);
        return TRUE;
    });
}

MMMPEG32_API int32_t WINAPI mpeg_GetErrorText(int32_t code, char* buffer, int32_t size) {
    return Guarded<int32_t>(1, 1, [&]() -> int32_t {
        const char* text = ErrorText(code);
        if (!text || !buffer || size <= 0) return 1;
        const size_t n = std::min<size_t>(std::strlen(text), size_t(size) - 1);
        std::memcpy(buffer, text, n);
        buffer[n] = 0;
        return 0;
    });
}
