#include "app/CleanCheck.h"

#include <mmreg.h>
#include <msacm.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "framework/Files.h"
#include "framework/Handles.h"
#include "media/MMACM.h"
#include "media/MMADPCM.h"
#include "media/MMWaveIO.h"

namespace {

// Bytes of source data read per block: small enough that window messages are
// dispatched several times a second even on a slow disk, large enough that
// the per-call cost of the wave layer and the codec manager stays small.
constexpr uint32_t kReadBlockBytes = 64 * 1024;

constexpr uint16_t kTagPcm = WAVE_FORMAT_PCM;           // 1
constexpr uint16_t kTagFloat = 0x0003;                  // WAVE_FORMAT_IEEE_FLOAT
constexpr uint16_t kTagExtensible = 0xFFFE;             // WAVE_FORMAT_EXTENSIBLE
constexpr uint16_t kTagImaAdpcm = 0x0011;
constexpr uint16_t kTagALaw = 0x0006;
constexpr uint16_t kTagMuLaw = 0x0007;
constexpr uint16_t kTagGsm610 = 0x0031;

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
    uint16_t bytesPerSample = 0;  // of one channel's sample, for PCM kinds
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

SampleFormat Describe(const WaveIOHandle& wave) {
    const WAVEFORMATEX& f = wave.format;
    SampleFormat out;
    out.tag = EffectiveTag(wave);
    out.channels = f.nChannels;
    out.rate = f.nSamplesPerSec;
    const uint16_t bytes = uint16_t((uint32_t(f.wBitsPerSample) + 7) / 8);
    // Interleaved samples of whole bytes, as the block alignment must say.
    const bool packed = f.nChannels > 0 && bytes > 0 && uint32_t(f.nBlockAlign) == uint32_t(f.nChannels) * bytes;
    if (out.tag == kTagPcm && packed && bytes <= 4) {
        out.kind = bytes == 1 ? SampleKind::Unsigned8 : SampleKind::SignedInt;
        out.bytesPerSample = bytes;
    } else if (out.tag == kTagFloat && packed && (bytes == 4 || bytes == 8)) {
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

class PcmStream : public ExpectedStream {
public:
    explicit PcmStream(WaveIOHandle& source) : source_(source) {}
    bool Next(std::vector<uint8_t>& block) override {
        return ReadSource(source_, source_.format.nBlockAlign, block, failure);
    }

private:
    WaveIOHandle& source_;
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

std::string ExistenceOnly(const std::string& why, bool exists) {
    return "clean copy check: " + why + "; judged by the output's existence alone: " +
           (exists ? "the output exists" : "the output is missing");
}

}  // namespace

std::string KeepFormatCodec(const WaveIOHandle& source) {
    const SampleFormat format = Describe(source);
    if (format.kind == SampleKind::SignedInt) {
        if (format.bytesPerSample == 3) return "pcm_s24le";
        if (format.bytesPerSample == 4) return "pcm_s32le";
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

CleanCheckResult CheckCleanCopy(const std::string& sourcePath, const std::string& outputPath,
                                const std::function<void()>& betweenBlocks) {
    using Verdict = CleanCheckResult::Verdict;
    CleanCheckResult result;
    const auto existenceOnly = [&](const std::string& why) {
        result.verdict = Verdict::Unverifiable;
        result.success = wc::FileExists(outputPath);
        result.logLine = ExistenceOnly(why, result.success);
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
        return existenceOnly("the source \"" + sourcePath + "\" cannot be read as a wave file");
    const WaveIOHandlePtr source(opened);
    const SampleFormat sourceFormat = Describe(*source);
    SampleFormat wanted;
    if (!ExpectedOutput(sourceFormat, wanted))
        return existenceOnly("the source's format cannot be decoded here: " + FormatText(*source));

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
        if (!decoder->Open(why)) return existenceOnly(why + ": " + FormatText(*source));
        expected = std::move(decoder);
        break;
    }
    case SampleKind::Other:
        break;
    }

    if (WaveIOBeginAccess(source.get()) != 0) return differs("the source's samples cannot be read; " + formats);
    if (WaveIOBeginAccess(output.get()) != 0) return differs("the output's samples cannot be read; " + formats);

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
            const int32_t read =
                output->bytesLeft == 0 ? 0 : WaveIORead(output.get(), written.data(), int32_t(written.size()));
            if (read < 0) return differs("the output's samples cannot be read; " + formats);
            const auto mismatch = std::mismatch(block.begin(), block.begin() + read, written.begin());
            if (mismatch.first != block.begin() + read)
                firstDifference = outputBytes + (mismatch.first - block.begin());
            else if (size_t(read) < block.size())
                firstDifference = outputBytes + read;  // the output ends early
            outputBytes += read;
        }
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
    wc::FileHandle log(::CreateFileA(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!log) return false;
    const std::string text = std::string(line) + "\r\n";
    DWORD written = 0;
    return ::WriteFile(log.get(), text.data(), DWORD(text.size()), &written, nullptr) && written == text.size();
}
