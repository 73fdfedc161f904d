#include "app/CleanCheck.h"

#include <mmreg.h>
#include <msacm.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/Files.h"
#include "framework/Handles.h"
#include "framework/Strings.h"
#include "media/codecs/MMACM.h"
#include "media/codecs/MMADPCM.h"
#include "media/mpeg/MMMPEG.h"
#include "media/wave/MMWaveIO.h"

namespace {

// Bytes of source data read per block: small enough that window messages are
// dispatched several times a second even on a slow disk, large enough that
// the per-call cost of the wave layer and the codec manager stays small.
constexpr uint32_t kReadBlockBytes = 64 * 1024;
// Plain PCM is compared in larger reads: a few milliseconds each from the
// page cache, and few enough calls that the check costs little beside the
// converter's own pass over the file.
constexpr uint32_t kLargeReadBytes = 4 * 1024 * 1024;

constexpr uint16_t kTagPcm = WAVE_FORMAT_PCM;           // 1
constexpr uint16_t kTagFloat = 0x0003;                  // WAVE_FORMAT_IEEE_FLOAT
constexpr uint16_t kTagExtensible = 0xFFFE;             // WAVE_FORMAT_EXTENSIBLE
constexpr uint16_t kTagImaAdpcm = 0x0011;
constexpr uint16_t kTagALaw = 0x0006;
constexpr uint16_t kTagMuLaw = 0x0007;
constexpr uint16_t kTagGsm610 = 0x0031;
constexpr uint16_t kTagMpeg = 0x0050;
constexpr uint16_t kTagMpegLayer3 = 0x0055;

// Sample bytes a plain RIFF copy surely holds: its 32-bit sizes count the
// data and the header chunks (a few hundred bytes; a megabyte kept free).
// Past this the converter is told to write RF64.
constexpr uint64_t kLargestPlainWaveData = 0xFFFFFFFFull - (1u << 20);

// The widest PCM container (64-bit integers and doubles).
constexpr uint32_t kLargestContainer = 8;

// WAVE_FORMAT_EXTENSIBLE's extension: valid bits (2), channel mask (4), then
// the sub-format GUID, whose first four bytes hold a format tag and whose
// other twelve are the same for every tag-based sub-format.
constexpr size_t kExtensibleExtraBytes = 22;
constexpr size_t kSubFormatAt = 6;
constexpr uint8_t kSubFormatTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool ReadU32(const uint8_t* data, size_t size, size_t at, uint32_t& value) {
    if (at > size || size - at < 4) return false;
    value = uint32_t(data[at]) | uint32_t(data[at + 1]) << 8 | uint32_t(data[at + 2]) << 16 |
            uint32_t(data[at + 3]) << 24;
    return true;
}

enum class SampleKind { Unsigned8, SignedInt, Float, MsAdpcm, CodecManager, Other };

// How the samples of a wave file are stored, as far as the check cares.
struct SampleFormat {
    SampleKind kind = SampleKind::Other;
    uint16_t tag = 0;             // the format tag; for WAVE_FORMAT_EXTENSIBLE the sub-format's
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint16_t bytesPerSample = 0;  // the container of one channel's sample, for PCM kinds
};

// The tag a format stands for: its own, or the sub-format of an extensible
// one (0 when that sub-format is not tag-based).
uint16_t EffectiveTag(const WaveIOHandle& wave) {
    const WAVEFORMATEX& f = wave.format;
    if (f.wFormatTag != kTagExtensible) return f.wFormatTag;
    const uint8_t* extra = wave.FormatExtra();
    const size_t extraSize = f.cbSize;
    uint32_t subTag = 0;
    if (extraSize < kExtensibleExtraBytes || !ReadU32(extra, extraSize, kSubFormatAt, subTag) ||
        std::memcmp(extra + kSubFormatAt + 4, kSubFormatTail, sizeof kSubFormatTail) != 0 || subTag > 0xFFFF)
        return 0;
    return uint16_t(subTag);
}

// The container of one channel's sample: the block alignment shared out over
// the channels, as long as it holds the declared bits. 0 when it does not.
uint16_t ContainerBytes(const WAVEFORMATEX& f) {
    if (f.nChannels == 0 || f.nBlockAlign % f.nChannels != 0) return 0;
    const uint32_t container = f.nBlockAlign / f.nChannels;
    if (container == 0 || container * 8 < f.wBitsPerSample || container > kLargestContainer) return 0;
    return uint16_t(container);
}

SampleFormat Describe(const WaveIOHandle& wave) {
    const WAVEFORMATEX& f = wave.format;
    SampleFormat out;
    out.tag = EffectiveTag(wave);
    out.channels = f.nChannels;
    out.rate = f.nSamplesPerSec;
    const uint16_t bytes = ContainerBytes(f);
    if (out.tag == kTagPcm && bytes > 0 && f.wBitsPerSample > 0) {
        out.kind = bytes == 1 ? SampleKind::Unsigned8 : SampleKind::SignedInt;
        out.bytesPerSample = bytes;
    } else if (out.tag == kTagFloat && (bytes == 4 || bytes == 8) && f.wBitsPerSample == bytes * 8) {
        out.kind = SampleKind::Float;
        out.bytesPerSample = bytes;
    } else if (f.wFormatTag == kWaveFormatMSADPCM && IsMSADPCMFormat(&f)) {
        out.kind = SampleKind::MsAdpcm;
    } else if (f.wFormatTag == kWaveFormatMSADPCM || f.wFormatTag == kTagImaAdpcm || f.wFormatTag == kTagALaw ||
               f.wFormatTag == kTagMuLaw || f.wFormatTag == kTagGsm610) {
        out.kind = SampleKind::CodecManager;
    }
    return out;
}

// Integer containers the converter has a codec for; 5-, 6- and 7-byte ones
// it has none for, and it would cut them to 16 bits.
bool ConverterKeepsContainer(uint16_t bytes) {
    return bytes == 1 || bytes == 2 || bytes == 3 || bytes == 4 || bytes == 8;
}

// The clean copy's format for a source of this format: 8-bit PCM and
// compressed sources come out as 16-bit PCM, deeper PCM keeps its format.
bool ExpectedOutput(const SampleFormat& source, SampleFormat& output) {
    output = source;
    switch (source.kind) {
    case SampleKind::Unsigned8:
    case SampleKind::MsAdpcm:
    case SampleKind::CodecManager:
        output.kind = SampleKind::SignedInt;
        output.tag = kTagPcm;
        output.bytesPerSample = 2;
        return true;
    case SampleKind::SignedInt:
        return ConverterKeepsContainer(source.bytesPerSample);
    case SampleKind::Float:
        return true;
    case SampleKind::Other:
        break;
    }
    return false;
}

bool SameLayout(const SampleFormat& a, const SampleFormat& b) {
    return a.kind == b.kind && a.channels == b.channels && a.rate == b.rate && a.bytesPerSample == b.bytesPerSample;
}

std::string FormatText(const WaveIOHandle& wave) {
    const WAVEFORMATEX& f = wave.format;
    char text[160];
    std::snprintf(text, sizeof text, "tag 0x%04X (%s) sub-tag 0x%04X, %u bit, %u ch, %lu Hz, block %u",
                  unsigned(f.wFormatTag), WaveFormatTagName(&f).c_str(), unsigned(EffectiveTag(wave)),
                  unsigned(f.wBitsPerSample), unsigned(f.nChannels), static_cast<unsigned long>(f.nSamplesPerSec),
                  unsigned(f.nBlockAlign));
    return text;
}

// Whether two byte ranges are equal. Compares runs of 256 bytes as 64-bit
// words, which the compiler vectorises: under Wine about twice as fast as
// the C library's memcmp, a sizeable part of checking a copy of gigabytes.
bool SameBytes(const uint8_t* a, const uint8_t* b, size_t n) {
    constexpr size_t kRun = 256;
    size_t i = 0;
    for (; i + kRun <= n; i += kRun) {
        uint64_t differ = 0;
        for (size_t k = 0; k < kRun; k += 8) {
            uint64_t x, y;
            std::memcpy(&x, a + i + k, 8);
            std::memcpy(&y, b + i + k, 8);
            differ |= x ^ y;
        }
        if (differ) return false;
    }
    return std::memcmp(a + i, b + i, n - i) == 0;
}

// ---- the source's samples as the clean copy must hold them ----

// Hands out the expected output in blocks; an empty block ends the stream.
class ExpectedStream {
public:
    virtual ~ExpectedStream() = default;
    // The next block, empty at the end. False on a read or decode failure.
    virtual bool Next(std::vector<uint8_t>& block) = 0;
    std::string failure;  // what went wrong when Next returned false
};

// Reads whole blocks of the source's data; `align` divides every read.
bool ReadSource(WaveIOHandle& source, uint32_t align, std::vector<uint8_t>& bytes, std::string& failure) {
    if (source.bytesLeft == 0) {  // the wave layer calls a read at the end a failure
        bytes.clear();
        return true;
    }
    const uint32_t size = std::max(align, kReadBlockBytes / std::max<uint32_t>(align, 1) * align);
    bytes.resize(size);
    const int32_t read = WaveIORead(&source, bytes.data(), int32_t(size));
    if (read < 0) {
        failure = "the source's samples cannot be read";
        return false;
    }
    bytes.resize(size_t(read));
    return true;
}

// Reads a byte range of a file straight through the system, in the large
// sequential reads that keep a check of plain PCM close to the disk's pace.
class RegionReader {
public:
    RegionReader(const std::string& path, int64_t offset, int64_t length) : left_(length) {
        file_.reset(::CreateFileW(wc::PathToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        LARGE_INTEGER at;
        at.QuadPart = offset;
        if (file_ && !::SetFilePointerEx(file_.get(), at, nullptr, FILE_BEGIN)) file_.reset();
    }
    bool Opened() const { return bool(file_); }
    // Bytes read into `buffer` (up to its size, never past the range), or -1.
    int64_t Read(std::vector<uint8_t>& buffer) {
        const DWORD wanted = DWORD(std::min<int64_t>(left_, int64_t(buffer.size())));
        DWORD done = 0;
        if (wanted > 0 && !::ReadFile(file_.get(), buffer.data(), wanted, &done, nullptr)) return -1;
        left_ -= done;
        return done;
    }

private:
    wc::FileHandle file_;
    int64_t left_;
};

// A byte range read one block ahead on a worker thread, so that the check
// reads the source and the copy at once: a large plain copy is checked in
// little more than the time one of the two reads takes.
//
// Threads: the worker runs Run(), the checking thread Next(). mutex_ guards
// full_, bytes_ and stop_; slot_ belongs to the worker while !full_ and to
// the checking thread while full_, and changes hands only under mutex_.
class ReadAheadRegion {
public:
    ReadAheadRegion(const std::string& path, int64_t offset, int64_t length, uint32_t blockBytes)
        : reader_(path, offset, length), blockBytes_(blockBytes) {
        if (reader_.Opened()) worker_ = std::thread([this] { Run(); });
    }
    ~ReadAheadRegion() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        if (worker_.joinable()) worker_.join();  // at most one read in flight
    }
    ReadAheadRegion(const ReadAheadRegion&) = delete;
    ReadAheadRegion& operator=(const ReadAheadRegion&) = delete;

    // The next block into `block` (empty at the end); false when the file
    // cannot be read or a read stalls past kReadWait.
    bool Next(std::vector<uint8_t>& block) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!worker_.joinable() || !changed_.wait_for(lock, kReadWait, [this] { return full_; }) || bytes_ < 0)
            return false;
        slot_.resize(size_t(bytes_));
        block.swap(slot_);
        if (bytes_ == 0) return true;  // the end stays in the slot for any later call
        full_ = false;
        lock.unlock();
        changed_.notify_all();
        return true;
    }

private:
    // A read of the source's page-cached data takes milliseconds, of a slow
    // disk well under a second: a read this late is a failing device.
    static constexpr std::chrono::seconds kReadWait{60};

    void Run() {
        std::vector<uint8_t> buffer;
        for (;;) {
            {
                // Waits until the checking thread has taken the last block,
                // or until the owner goes.
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [this] { return stop_ || !full_; });
                if (stop_) return;
                buffer.swap(slot_);
            }
            buffer.resize(blockBytes_);
            const int64_t read = reader_.Read(buffer);
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                slot_.swap(buffer);
                bytes_ = read;
                full_ = true;
            }
            changed_.notify_all();
            if (read <= 0) return;  // the end or a failure: the answer stays
        }
    }

    RegionReader reader_;
    const uint32_t blockBytes_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<uint8_t> slot_;
    int64_t bytes_ = 0;  // of slot_; -1: the read failed
    bool full_ = false;
    bool stop_ = false;
    std::thread worker_;  // last: starts when everything it uses stands
};

// Plain PCM: the copy holds the source's data bytes as they are.
class PcmStream : public ExpectedStream {
public:
    explicit PcmStream(const WaveIOHandle& source)
        : reader_(source.fileName, int64_t(source.dataOffset), int64_t(source.dataBytes), kLargeReadBytes) {}
    bool Next(std::vector<uint8_t>& block) override {
        if (reader_.Next(block)) return true;
        failure = "the source's samples cannot be read";
        return false;
    }

private:
    ReadAheadRegion reader_;
};

// 8-bit PCM is unsigned around 128; the converter writes it as signed 16-bit
// with the byte as the high half.
class Widen8Stream : public ExpectedStream {
public:
    explicit Widen8Stream(WaveIOHandle& source) : source_(source) {}
    bool Next(std::vector<uint8_t>& block) override {
        if (!ReadSource(source_, source_.format.nBlockAlign, bytes_, failure)) return false;
        block.resize(bytes_.size() * 2);
        for (size_t i = 0; i < bytes_.size(); ++i) {
            block[2 * i] = 0;
            block[2 * i + 1] = uint8_t(bytes_[i] ^ 0x80);
        }
        return true;
    }

private:
    WaveIOHandle& source_;
    std::vector<uint8_t> bytes_;
};

class MsAdpcmStream : public ExpectedStream {
public:
    explicit MsAdpcmStream(WaveIOHandle& source)
        : source_(source), pcm_(WavePCMFormat(source.format.nChannels, 16, source.format.nSamplesPerSec)) {}
    bool Next(std::vector<uint8_t>& block) override {
        if (!ReadSource(source_, source_.format.nBlockAlign, bytes_, failure)) return false;
        block.clear();
        if (bytes_.empty()) return true;
        const uint32_t inputBytes = uint32_t(bytes_.size());
        block.resize(MSADPCMDecodedSize(&source_.format, &pcm_, inputBytes));
        const uint32_t written =
            DecodeMSADPCM(&source_.format, &pcm_, bytes_.data(), inputBytes, block.data(), uint32_t(block.size()));
        if (written == 0) {
            failure = "a Microsoft ADPCM block of the source does not decode";
            return false;
        }
        block.resize(written);
        return true;
    }

private:
    WaveIOHandle& source_;
    WAVEFORMATEX pcm_;
    std::vector<uint8_t> bytes_;
};

// Decodes through the system's codec manager (bound at run time) to 16-bit
// PCM. Whole source blocks go in each call; what a call leaves over goes in
// front of the next one, and the last rest is converted with the end flag.
class CodecManagerStream : public ExpectedStream {
public:
    explicit CodecManagerStream(WaveIOHandle& source)
        : source_(source), pcm_(WavePCMFormat(source.format.nChannels, 16, source.format.nSamplesPerSec)) {}

    // False when the codec manager is missing or has no decoder for the format.
    bool Open(std::string& why) {
        const AcmEntryPoints& acm = Acm().EntryPoints();
        if (!Acm().Usable() || !acm.acmStreamOpen || !acm.acmStreamClose || !acm.acmStreamSize ||
            !acm.acmStreamConvert || !acm.acmStreamPrepareHeader || !acm.acmStreamUnprepareHeader) {
            why = "the system's codec manager is not available";
            return false;
        }
        const MMRESULT opened = acm.acmStreamOpen(stream_.put(), nullptr, &source_.format, &pcm_, nullptr, 0, 0,
                                                  ACM_STREAMOPENF_NONREALTIME);
        if (opened != MMSYSERR_NOERROR) {
            stream_.release();  // nothing was opened
            why = "the system's codec manager has no decoder for it (error " + std::to_string(opened) + ")";
            return false;
        }
        return true;
    }

    bool Next(std::vector<uint8_t>& block) override {
        block.clear();
        while (block.empty() && !ended_) {
            std::vector<uint8_t> more;
            if (!ReadSource(source_, source_.format.nBlockAlign, more, failure)) return false;
            const bool last = more.empty();
            pending_.insert(pending_.end(), more.begin(), more.end());
            if (last) ended_ = true;
            if (pending_.empty()) break;
            DWORD flags = last ? ACM_STREAMCONVERTF_END : ACM_STREAMCONVERTF_BLOCKALIGN;
            if (first_) flags |= ACM_STREAMCONVERTF_START;
            if (!Convert(flags, block)) return false;
            first_ = false;
        }
        return true;
    }

private:
    bool Convert(DWORD flags, std::vector<uint8_t>& out) {
        const AcmEntryPoints& acm = Acm().EntryPoints();
        DWORD room = 0;
        if (acm.acmStreamSize(stream_.get(), DWORD(pending_.size()), &room, ACM_STREAMSIZEF_SOURCE) !=
                MMSYSERR_NOERROR ||
            room == 0) {
            // Too little for one block: nothing to decode from this rest.
            if (flags & ACM_STREAMCONVERTF_END) {
                pending_.clear();
                return true;
            }
            failure = "the system's codec manager cannot size a conversion";
            return false;
        }
        std::vector<uint8_t> decoded(room);
        ACMSTREAMHEADER header{};
        header.cbStruct = sizeof header;
        header.pbSrc = pending_.data();
        header.cbSrcLength = DWORD(pending_.size());
        header.pbDst = decoded.data();
        header.cbDstLength = room;
        if (acm.acmStreamPrepareHeader(stream_.get(), &header, 0) != MMSYSERR_NOERROR) {
            failure = "the system's codec manager cannot prepare a conversion";
            return false;
        }
        const MMRESULT converted = acm.acmStreamConvert(stream_.get(), &header, flags);
        acm.acmStreamUnprepareHeader(stream_.get(), &header, 0);
        if (converted != MMSYSERR_NOERROR) {
            failure = "the system's codec manager failed to decode (error " + std::to_string(converted) + ")";
            return false;
        }
        const size_t used = std::min<size_t>(header.cbSrcLengthUsed, pending_.size());
        pending_.erase(pending_.begin(), pending_.begin() + ptrdiff_t(used));
        if (flags & ACM_STREAMCONVERTF_END) pending_.clear();
        decoded.resize(std::min<size_t>(header.cbDstLengthUsed, decoded.size()));
        out.insert(out.end(), decoded.begin(), decoded.end());
        return true;
    }

    WaveIOHandle& source_;
    WAVEFORMATEX pcm_;
    wc::AcmStreamHandle stream_;
    std::vector<uint8_t> pending_;
    bool first_ = true;
    bool ended_ = false;
};

// Decodes MPEG audio inside WAVE through the MPEG library, which reads the
// RIFF form itself, to 16-bit PCM.
class MpegStream : public ExpectedStream {
public:
    // False when the library is missing or refuses the file.
    bool Open(const std::string& path, std::string& why) {
        try {
            mpeg_ = std::make_unique<TMMMpeg>();
            mpeg_->SetFileName(path);
            if (mpeg_->IsEmpty() || !mpeg_->PWaveFormat()) {
                why = "the MPEG library finds no MPEG audio in it";
                return false;
            }
            mpeg_->Open();
            return true;
        } catch (const std::exception& error) {
            why = std::string("the MPEG library cannot decode it: ") + error.what();
            return false;
        }
    }
    WAVEFORMATEX Format() const { return *mpeg_->PWaveFormat(); }
    bool Next(std::vector<uint8_t>& block) override {
        block.resize(kReadBlockBytes);
        try {
            const int32_t read = mpeg_->Read(block.data(), int32_t(block.size()));
            block.resize(size_t(std::max(read, 0)));
            return true;
        } catch (const std::exception& error) {
            failure = std::string("the MPEG library failed to decode the source: ") + error.what();
            return false;
        }
    }

private:
    std::unique_ptr<TMMMpeg> mpeg_;
};

bool IsMpegTag(uint16_t tag) { return tag == kTagMpeg || tag == kTagMpegLayer3; }

// Formats the converter decodes otherwise than the system's codec, or that
// only the program decodes: the program hands the converter PCM for them.
bool DecodedByProgram(WaveIOHandle& source, const SampleFormat& format) {
    const uint16_t tag = source.format.wFormatTag;
    if (IsMpegTag(tag) || tag == kTagImaAdpcm || tag == kTagGsm610) return true;
    if (format.kind != SampleKind::Other || tag == kTagPcm || tag == kTagFloat || tag == kTagExtensible)
        return false;
    std::string why;
    return CodecManagerStream(source).Open(why);
}

}  // namespace

std::string KeepFormatCodec(const WaveIOHandle& source) {
    const SampleFormat format = Describe(source);
    if (format.kind == SampleKind::SignedInt) {
        switch (format.bytesPerSample) {
        case 3: return "pcm_s24le";
        case 4: return "pcm_s32le";
        case 8: return "pcm_s64le";
        default: break;
        }
    } else if (format.kind == SampleKind::Float) {
        return format.bytesPerSample == 4 ? "pcm_f32le" : "pcm_f64le";
    }
    return {};
}

std::string KeepFormatCodecOf(const std::string& sourcePath) {
    PWaveIOHandle opened = nullptr;
    if (WaveIOOpen(opened, sourcePath.c_str()) != 0 || !opened) return {};
    const WaveIOHandlePtr source(opened);
    return KeepFormatCodec(*source);
}

CleanPlan PlanCleanJob(const std::string& sourcePath) {
    CleanPlan plan;
    PWaveIOHandle opened = nullptr;
    if (WaveIOOpen(opened, sourcePath.c_str()) != 0 || !opened) {
        plan.reason = "the source \"" + sourcePath + "\" cannot be read as a wave file";
        return plan;
    }
    const WaveIOHandlePtr source(opened);
    const SampleFormat format = Describe(*source);
    SampleFormat wanted;
    if (format.kind == SampleKind::SignedInt && !ConverterKeepsContainer(format.bytesPerSample)) {
        plan.reason = "no codec keeps " + std::to_string(source->format.wBitsPerSample) + "-bit samples in " +
                      std::to_string(format.bytesPerSample * 8) +
                      "-bit containers; the converter would cut them to 16 bits: " + FormatText(*source);
        return plan;
    }
    // The copy as the converter writes it: a canonical header, then the
    // samples in the kept format (16-bit PCM for what the program decodes).
    constexpr uint64_t kCanonicalHeaderBytes = 44;
    if (DecodedByProgram(*source, format)) {
        plan.route = CleanPlan::Route::Decode;
        plan.copyBytes = kCanonicalHeaderBytes + uint64_t(source->totalSamples) * source->format.nChannels * 2;
        return plan;
    }
    if (!ExpectedOutput(format, wanted)) {
        plan.reason = "nothing here decodes the source's format, so a copy could not be verified: " +
                      FormatText(*source);
        return plan;
    }
    plan.route = CleanPlan::Route::Direct;
    plan.codec = KeepFormatCodec(*source);
    const uint64_t copyBytes = uint64_t(source->totalSamples) * wanted.channels * wanted.bytesPerSample;
    plan.beyond4GiB = copyBytes > kLargestPlainWaveData;
    plan.copyBytes = kCanonicalHeaderBytes + copyBytes;
    return plan;
}

bool DecodeToPcmWave(const std::string& sourcePath, const std::string& pcmPath,
                     const std::function<void()>& betweenBlocks, std::string& failure, JobProgress* progress) {
    PWaveIOHandle opened = nullptr;
    if (WaveIOOpen(opened, sourcePath.c_str()) != 0 || !opened) {
        failure = "the source \"" + sourcePath + "\" cannot be read as a wave file";
        return false;
    }
    const WaveIOHandlePtr source(opened);
    std::unique_ptr<ExpectedStream> decoder;
    WAVEFORMATEX pcm{};
    std::string why;
    if (IsMpegTag(source->format.wFormatTag)) {
        auto mpeg = std::make_unique<MpegStream>();
        if (!mpeg->Open(sourcePath, why)) {
            failure = why + ": " + FormatText(*source);
            return false;
        }
        pcm = mpeg->Format();
        decoder = std::move(mpeg);
    } else {
        auto acm = std::make_unique<CodecManagerStream>(*source);
        if (!acm->Open(why)) {
            failure = why + ": " + FormatText(*source);
            return false;
        }
        pcm = WavePCMFormat(source->format.nChannels, 16, source->format.nSamplesPerSec);
        decoder = std::move(acm);
        if (WaveIOBeginAccess(source.get()) != 0) {
            failure = "the source's samples cannot be read";
            return false;
        }
    }

    opened = nullptr;
    if (WaveIOCreateHandle(opened, &pcm) != 0 || !opened) {
        failure = "no memory for the decoded copy";
        return false;
    }
    WaveIOHandlePtr decoded(opened);
    if (WaveIOCreateFile(decoded.get(), pcmPath.c_str()) != 0) {
        failure = "the decoded copy \"" + pcmPath + "\" cannot be created";
        return false;
    }
    bool written = true;
    std::vector<uint8_t> block;
    for (;;) {
        if (!decoder->Next(block)) {
            failure = decoder->failure;
            written = false;
            break;
        }
        if (block.empty()) break;
        if (WaveIOWrite(decoded.get(), block.data(), int32_t(block.size())) != int32_t(block.size())) {
            failure = "the decoded copy \"" + pcmPath + "\" cannot be written";
            written = false;
            break;
        }
        if (progress) progress->done += block.size();
        if (betweenBlocks) betweenBlocks();
    }
    if (WaveIOEndAccess(decoded.get()) != 0 && written) {
        failure = "the decoded copy \"" + pcmPath + "\" cannot be finished";
        written = false;
    }
    decoded.reset();
    if (!written) ::DeleteFileW(wc::PathToWide(pcmPath).c_str());
    return written;
}

CleanCheckResult CheckCleanCopy(const std::string& sourcePath, const std::string& outputPath,
                                const std::function<void()>& betweenBlocks, JobProgress* progress) {
    using Verdict = CleanCheckResult::Verdict;
    CleanCheckResult result;
    const auto undecodable = [&](const std::string& why) {
        result.verdict = Verdict::Undecodable;
        result.success = false;
        result.logLine = "clean copy check failed: " + why;
        return result;
    };
    const auto differs = [&](const std::string& what) {
        result.verdict = Verdict::Differs;
        result.success = false;
        result.logLine = "clean copy check failed: " + what;
        return result;
    };

    PWaveIOHandle opened = nullptr;
    if (WaveIOOpen(opened, sourcePath.c_str()) != 0 || !opened)
        return undecodable("the source \"" + sourcePath + "\" cannot be read as a wave file");
    const WaveIOHandlePtr source(opened);
    const SampleFormat sourceFormat = Describe(*source);
    SampleFormat wanted;
    if (!ExpectedOutput(sourceFormat, wanted))
        return undecodable("nothing here decodes the source's format: " + FormatText(*source));
    if (!wc::FileExists(outputPath)) return differs("the output \"" + outputPath + "\" is missing");
    opened = nullptr;
    if (WaveIOOpen(opened, outputPath.c_str()) != 0 || !opened)
        return differs("the output \"" + outputPath + "\" is not a RIFF WAVE file");
    const WaveIOHandlePtr output(opened);
    const SampleFormat outputFormat = Describe(*output);
    const std::string formats = "source " + FormatText(*source) + "; output " + FormatText(*output);
    if (!SameLayout(wanted, outputFormat)) return differs("format: " + formats);

    std::unique_ptr<ExpectedStream> expected;
    switch (sourceFormat.kind) {
    case SampleKind::Unsigned8:
        expected = std::make_unique<Widen8Stream>(*source);
        break;
    case SampleKind::SignedInt:
    case SampleKind::Float:
        expected = std::make_unique<PcmStream>(*source);
        break;
    case SampleKind::MsAdpcm:
        expected = std::make_unique<MsAdpcmStream>(*source);
        break;
    case SampleKind::CodecManager: {
        auto decoder = std::make_unique<CodecManagerStream>(*source);
        std::string why;
        if (!decoder->Open(why)) return undecodable(why + ": " + FormatText(*source));
        expected = std::move(decoder);
        break;
    }
    case SampleKind::Other:
        break;
    }

    if (sourceFormat.kind != SampleKind::SignedInt && sourceFormat.kind != SampleKind::Float &&
        WaveIOBeginAccess(source.get()) != 0)
        return differs("the source's samples cannot be read; " + formats);
    RegionReader copy(output->fileName, output->dataOffset, output->dataBytes);
    if (!copy.Opened()) return differs("the output's samples cannot be read; " + formats);

    if (progress) *progress = {JobProgress::Stage::Checking, 0, output->dataBytes};
    const uint32_t frameBytes = output->format.nBlockAlign;
    int64_t expectedBytes = 0, outputBytes = 0;
    int64_t firstDifference = -1;  // byte offset
    std::vector<uint8_t> block, written;
    for (;;) {
        if (!expected->Next(block)) return differs(expected->failure + "; " + formats);
        if (block.empty()) break;
        expectedBytes += int64_t(block.size());
        if (firstDifference < 0) {
            written.resize(block.size());
            const int64_t read = copy.Read(written);
            if (read < 0) return differs("the output's samples cannot be read; " + formats);
            if (!SameBytes(block.data(), written.data(), size_t(read)))
                firstDifference = outputBytes + (std::mismatch(block.begin(), block.end(), written.begin()).first -
                                                 block.begin());
            else if (size_t(read) < block.size())
                firstDifference = outputBytes + read;  // the output ends early
            outputBytes += read;
        }
        if (progress) progress->done = uint64_t(std::min<int64_t>(expectedBytes, output->dataBytes));
        if (betweenBlocks) betweenBlocks();
    }
    const int64_t outputTotal = output->dataBytes;
    if (firstDifference < 0 && outputTotal == expectedBytes) {
        result.verdict = Verdict::Verified;
        result.success = true;
        return result;
    }
    const auto frames = [&](int64_t bytes) { return std::to_string(bytes / std::max<uint32_t>(frameBytes, 1)); };
    std::string what = "length: source " + frames(expectedBytes) + " frames, output " + frames(outputTotal) +
                       " frames; first differing frame " +
                       (firstDifference >= 0 ? frames(firstDifference) : frames(std::min(expectedBytes, outputTotal)));
    return differs(what + "; " + formats);
}

bool AppendLogLine(const std::string& logPath, std::string_view line) {
    wc::FileHandle log(::CreateFileW(wc::PathToWide(logPath).c_str(), FILE_APPEND_DATA,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                     nullptr));
    if (!log) return false;
    const std::string text = std::string(line) + "\r\n";
    DWORD written = 0;
    return ::WriteFile(log.get(), text.data(), DWORD(text.size()), &written, nullptr) && written == text.size();
}
