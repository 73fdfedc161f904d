#include "app/CleanCheck.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "app/DecodingStreams.h"
#include "framework/Files.h"
#include "framework/Handles.h"
#include "framework/Strings.h"
#include "media/wave/MMWaveIO.h"

namespace {

// Sample bytes a plain RIFF copy surely holds: its 32-bit sizes count the
// data and the header chunks (a few hundred bytes; a megabyte kept free).
// Past this the converter is told to write RF64.
constexpr uint64_t kLargestPlainWaveData = 0xFFFFFFFFull - (1u << 20);

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

// Formats the converter decodes otherwise than the system's codec, or that
// only the program decodes: the program hands the converter PCM for them.
bool DecodedByProgram(WaveIOHandle& source, const SampleFormat& format) {
    const uint16_t tag = source.format.wFormatTag;
    if (IsMpegTag(tag) || tag == kTagImaAdpcm || tag == kTagGsm610) return true;
    if (format.kind != SampleKind::Other || tag == kTagPcm || tag == kTagFloat || tag == kTagExtensible)
        return false;
    // Anything else the system's codec manager may decode.
    WAVEFORMATEX pcm{};
    std::string why;
    return OpenDecodingStream(source, pcm, why) != nullptr;
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
    WAVEFORMATEX pcm{};
    std::string why;
    const std::unique_ptr<DecodingStream> decoder = OpenDecodingStream(*source, pcm, why);
    if (!decoder) {
        failure = why + ": " + FormatText(*source);
        return false;
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

    WAVEFORMATEX pcm{};
    std::string why;
    const std::unique_ptr<DecodingStream> expected = OpenDecodingStream(*source, pcm, why);
    if (!expected) {
        if (sourceFormat.kind == SampleKind::CodecManager) return undecodable(why + ": " + FormatText(*source));
        return differs(why + "; " + formats);
    }
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
