#include "app/DecodingStreams.h"

#include <mmreg.h>
#include <msacm.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>

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

// The container of one channel's sample: the block alignment shared out over
// the channels, as long as it holds the declared bits. 0 when it does not.
uint16_t ContainerBytes(const WAVEFORMATEX& f) {
    if (f.nChannels == 0 || f.nBlockAlign % f.nChannels != 0) return 0;
    const uint32_t container = f.nBlockAlign / f.nChannels;
    if (container == 0 || container * 8 < f.wBitsPerSample || container > kLargestContainer) return 0;
    return uint16_t(container);
}

}  // namespace

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
    } else if (f.wFormatTag == kWaveFormatMSADPCM && MSADPCMFrames(&f, f.nBlockAlign) > 0) {
        out.kind = SampleKind::MsAdpcm;
    } else if (f.wFormatTag == kWaveFormatIMAADPCM && IsIMAADPCMFormat(&f)) {
        out.kind = SampleKind::ImaAdpcm;
    } else if (f.wFormatTag == kTagALaw || f.wFormatTag == kTagMuLaw || f.wFormatTag == kTagGsm610) {
        out.kind = SampleKind::CodecManager;
    }
    return out;
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

uint32_t SpeakerMask(const WaveIOHandle& wave) {
    uint32_t mask = 0;
    if (wave.format.wFormatTag != kTagExtensible || !ReadU32(wave.FormatExtra(), wave.format.cbSize, 2, mask)) return 0;
    return mask;
}

uint16_t ValidBits(const WaveIOHandle& wave) {
    const WAVEFORMATEX& f = wave.format;
    if (f.wFormatTag != kTagExtensible || f.cbSize < 2) return f.wBitsPerSample;
    const uint16_t valid = uint16_t(wave.FormatExtra()[0] | wave.FormatExtra()[1] << 8);
    return valid != 0 ? valid : f.wBitsPerSample;
}

bool ReadAt(HANDLE file, uint64_t offset, void* out, DWORD count) {
    LARGE_INTEGER at;
    at.QuadPart = int64_t(offset);
    DWORD done = 0;
    return ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ::ReadFile(file, out, count, &done, nullptr) &&
           done == count;
}

wc::FileHandle OpenForReading(const std::string& path, DWORD flags) {
    return wc::FileHandle(::CreateFileW(wc::PathToWide(path).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        flags, nullptr));
}

namespace {

uint32_t U32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint64_t U64(const uint8_t* p) { return U32(p) | uint64_t(U32(p + 4)) << 32; }

}  // namespace

std::optional<uint64_t> AdpcmFrames(const WaveIOHandle& source) {
    const SampleKind kind = Describe(source).kind;
    uint64_t frames = 0;
    if (kind == SampleKind::MsAdpcm) {
        frames = MSADPCMFrames(&source.format, source.dataBytes);
    } else if (kind == SampleKind::ImaAdpcm) {
        frames = IMAADPCMFrames(&source.format, source.dataBytes);
    } else {
        return std::nullopt;
    }
    uint8_t fact[4];
    if (source.factOffset != 0) {
        const wc::FileHandle file = OpenForReading(source.fileName);
        if (file && ReadAt(file.get(), source.factOffset, fact, sizeof fact)) frames = std::min<uint64_t>(frames, U32(fact));
    }
    return frames;
}

std::optional<WaveChunkPlace> FindWaveChunk(HANDLE file, const char* id) {
    // A header holds a handful of chunks; past this many the file is no
    // header we wrote or read.
    constexpr int kMostChunks = 64;
    uint8_t form[12];
    if (!ReadAt(file, 0, form, sizeof form) || std::memcmp(form + 8, "WAVE", 4) != 0) return std::nullopt;
    if (std::memcmp(form, "RIFF", 4) != 0 && std::memcmp(form, "RF64", 4) != 0 && std::memcmp(form, "BW64", 4) != 0)
        return std::nullopt;
    uint64_t at = sizeof form;
    for (int n = 0; n < kMostChunks; ++n) {
        uint8_t header[8];
        if (!ReadAt(file, at, header, sizeof header)) return std::nullopt;
        const uint32_t size = U32(header + 4);
        if (std::memcmp(header, id, 4) == 0) return WaveChunkPlace{at + sizeof header, size};
        at += sizeof header + uint64_t(size) + (size & 1);
    }
    return std::nullopt;
}

std::optional<uint64_t> DeclaredDataBytes(const std::string& path) {
    constexpr uint32_t kSizeInDs64 = 0xFFFFFFFF;
    const wc::FileHandle file = OpenForReading(path);
    const std::optional<WaveChunkPlace> data = file ? FindWaveChunk(file.get(), "data") : std::nullopt;
    if (!data) return std::nullopt;
    uint8_t form[4];
    const bool sized64 = ReadAt(file.get(), 0, form, sizeof form) &&
                         (std::memcmp(form, "RF64", 4) == 0 || std::memcmp(form, "BW64", 4) == 0);
    if (!sized64 || data->size != kSizeInDs64) return data->size;
    // The size stands in "ds64", ahead of the data.
    const std::optional<WaveChunkPlace> ds64 = FindWaveChunk(file.get(), "ds64");
    uint8_t sizes[16];  // RIFF size, data size
    if (!ds64 || ds64->bodyAt > data->bodyAt || !ReadAt(file.get(), ds64->bodyAt, sizes, sizeof sizes))
        return std::nullopt;
    return U64(sizes + 8);
}

RegionReader::RegionReader(const std::string& path, int64_t offset, int64_t length) : left_(length) {
    file_ = OpenForReading(path, FILE_FLAG_SEQUENTIAL_SCAN);
    LARGE_INTEGER at;
    at.QuadPart = offset;
    if (file_ && !::SetFilePointerEx(file_.get(), at, nullptr, FILE_BEGIN)) file_.reset();
}

int64_t RegionReader::Read(std::vector<uint8_t>& buffer) {
    const DWORD wanted = DWORD(std::min<int64_t>(left_, int64_t(buffer.size())));
    DWORD done = 0;
    if (wanted > 0 && !::ReadFile(file_.get(), buffer.data(), wanted, &done, nullptr)) return -1;
    left_ -= done;
    return done;
}

namespace {

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

// Plain PCM: the copy holds the source's data bytes as they are, those of
// a big-endian (RIFX) source turned little-endian.
class PcmStream : public DecodingStream {
public:
    explicit PcmStream(const WaveIOHandle& source)
        : swap_(source.bigEndian ? WaveSampleContainer(source.format) : 0),
          reader_(source.fileName, int64_t(source.dataOffset), int64_t(source.dataBytes),
                  swap_ > 1 ? kLargeReadBytes / swap_ * swap_ : kLargeReadBytes) {}
    bool Next(std::vector<uint8_t>& block) override {
        if (!reader_.Next(block)) {
            failure = "the source's samples cannot be read";
            return false;
        }
        WaveSwapSampleBytes(block.data(), block.size(), swap_);
        return true;
    }

private:
    const uint32_t swap_;  // the container of a sample to turn around; 0: none
    ReadAheadRegion reader_;
};

// Microsoft and IMA ADPCM by our own decoders: whole blocks and a last block
// cut short as the converter decodes them, up to `frames` frames (the
// "fact" count where it is smaller than what the blocks give).
class AdpcmStream : public DecodingStream {
public:
    AdpcmStream(WaveIOHandle& source, uint64_t frames)
        : source_(source), pcm_(WavePCMFormat(source.format.nChannels, 16, source.format.nSamplesPerSec)),
          framesLeft_(frames) {}
    bool Next(std::vector<uint8_t>& block) override {
        block.clear();
        if (framesLeft_ == 0) return true;
        if (!ReadSource(source_, source_.format.nBlockAlign, bytes_, failure)) return false;
        if (bytes_.empty()) return true;
        const uint32_t inputBytes = uint32_t(bytes_.size());
        const uint32_t frameBytes = pcm_.nBlockAlign;
        const uint64_t frames = std::min<uint64_t>(framesLeft_, Frames(inputBytes));
        block.resize(size_t(frames) * frameBytes);
        const uint32_t written = source_.format.wFormatTag == kWaveFormatIMAADPCM
                                     ? DecodeIMAADPCM(&source_.format, bytes_.data(), inputBytes, block.data(),
                                                      uint32_t(block.size()))
                                     : DecodeMSADPCM(&source_.format, &pcm_, bytes_.data(), inputBytes, block.data(),
                                                     uint32_t(block.size()));
        if (written != block.size()) {
            failure = "an ADPCM block of the source does not decode";
            return false;
        }
        framesLeft_ -= frames;
        return true;
    }

private:
    uint64_t Frames(uint32_t bytes) const {
        return source_.format.wFormatTag == kWaveFormatIMAADPCM ? IMAADPCMFrames(&source_.format, bytes)
                                                                : MSADPCMFrames(&source_.format, bytes);
    }
    WaveIOHandle& source_;
    WAVEFORMATEX pcm_;
    uint64_t framesLeft_;
    std::vector<uint8_t> bytes_;
};

// Decodes through the system's codec manager (bound at run time) to 16-bit
// PCM. Whole source blocks go in each call; what a call leaves over goes in
// front of the next one, and the last rest is converted with the end flag.
class CodecManagerStream : public DecodingStream {
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
class MpegStream : public DecodingStream {
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


}  // namespace

bool IsMpegTag(uint16_t tag) { return tag == kTagMpeg || tag == kTagMpegLayer3; }

std::unique_ptr<DecodingStream> OpenDecodingStream(WaveIOHandle& source, WAVEFORMATEX& pcm, std::string& why) {
    const SampleFormat format = Describe(source);
    const WAVEFORMATEX decoded = WavePCMFormat(source.format.nChannels, 16, source.format.nSamplesPerSec);
    // The MPEG library reads the RIFF form itself.
    if (IsMpegTag(source.format.wFormatTag)) {
        auto mpeg = std::make_unique<MpegStream>();
        if (!mpeg->Open(source.fileName, why)) return nullptr;
        pcm = mpeg->Format();
        return mpeg;
    }
    // Plain PCM is read straight from the file, past the wave layer.
    if (format.Pcm()) {
        pcm = source.format;
        return std::make_unique<PcmStream>(source);
    }
    std::unique_ptr<DecodingStream> stream;
    switch (format.kind) {
    case SampleKind::MsAdpcm:
    case SampleKind::ImaAdpcm:
        stream = std::make_unique<AdpcmStream>(source, AdpcmFrames(source).value_or(0));
        break;
    default: {
        // ADPCM is ours to decode, a short last block kept as the converter
        // keeps it; the system's codec drops that block.
        if (source.format.wFormatTag == kWaveFormatMSADPCM || source.format.wFormatTag == kWaveFormatIMAADPCM) {
            why = "its ADPCM header does not agree with its block size, so nothing here decodes it as the "
                  "converter would";
            return nullptr;
        }
        auto acm = std::make_unique<CodecManagerStream>(source);
        if (!acm->Open(why)) return nullptr;
        stream = std::move(acm);
        break;
    }
    }
    if (WaveIOBeginAccess(&source) != 0) {
        why = "the source's samples cannot be read";
        return nullptr;
    }
    pcm = decoded;
    return stream;
}
