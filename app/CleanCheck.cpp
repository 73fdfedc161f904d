#include "app/CleanCheck.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "app/DecodingStreams.h"
#include "app/SampleDigest.h"
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

// The clean copy's format for a source of this format: compressed sources
// come out as 16-bit PCM, PCM keeps its format.
bool ExpectedOutput(const SampleFormat& source, SampleFormat& output) {
    output = source;
    switch (source.kind) {
    case SampleKind::MsAdpcm:
    case SampleKind::ImaAdpcm:
    case SampleKind::CodecManager:
        output.kind = SampleKind::SignedInt;
        output.tag = kTagPcm;
        output.bytesPerSample = 2;
        return true;
    case SampleKind::SignedInt:
        return ConverterKeepsContainer(source.bytesPerSample);
    case SampleKind::Unsigned8:
    case SampleKind::Float:
        return true;
    case SampleKind::Other:
        break;
    }
    return false;
}

// Speaker positions as the check compares them: the same mask, or for one
// or two channels no positions and the usual ones (front centre; front left
// and right) alike, which is what a plain header means there.
bool SamePositions(uint32_t source, uint32_t output, uint16_t channels) {
    if (source == output) return true;
    if (channels > 2) return false;
    const uint32_t usual = channels == 1 ? SPEAKER_FRONT_CENTER : SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    return (source == 0 || source == usual) && (output == 0 || output == usual);
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", unsigned(value));
    return text;
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
    if (IsMpegTag(tag) || format.kind == SampleKind::MsAdpcm || format.kind == SampleKind::ImaAdpcm ||
        tag == kTagGsm610)
        return true;
    if (format.kind != SampleKind::Other || tag == kTagPcm || tag == kTagFloat || tag == kTagExtensible)
        return false;
    // Anything else the system's codec manager may decode.
    WAVEFORMATEX pcm{};
    std::string why;
    return OpenDecodingStream(source, pcm, why) != nullptr;
}

// Why the converter would read other samples from this PCM source than the
// wave layer does; empty when it reads the same.
std::string ConverterMisreads(const WaveIOHandle& source) {
    constexpr FOURCC kBw64 = mmioFOURCC('B', 'W', '6', '4');
    if (source.riffChunk.id == kBw64) return "the converter cannot read BW64";
    if (source.bigEndian) return "the converter misreads big-endian RIFX";
    // It takes the last data chunk, where the wave layer takes the first.
    if (source.laterData) return "the converter would read the last of several data chunks";
    // Fewer valid bits than the container holds: it reads 24 of 32 as floats.
    if (source.format.wFormatTag == kTagExtensible && ValidBits(source) < Describe(source).bytesPerSample * 8u)
        return "the converter misreads " + std::to_string(ValidBits(source)) + " valid bits in " +
               std::to_string(Describe(source).bytesPerSample * 8u) + "-bit containers";
    // It believes the data size the header declares, and reads a size of 0
    // as the rest of the file: not the region the wave layer measured.
    const std::optional<uint64_t> declared = DeclaredDataBytes(source.fileName);
    if (declared != source.dataBytes || declared == 0u)
        return "the data size the header declares (" + (declared ? std::to_string(*declared) : std::string("none")) +
               " bytes) is not that of the samples (" + std::to_string(source.dataBytes) + " bytes)";
    return {};
}

}  // namespace

std::string KeepFormatCodec(const WaveIOHandle& source) {
    const SampleFormat format = Describe(source);
    if (format.kind == SampleKind::Unsigned8) return "pcm_u8";
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
        const uint64_t frames = AdpcmFrames(*source).value_or(source->totalSamples);
        plan.copyBytes = kCanonicalHeaderBytes + frames * source->format.nChannels * 2;
        return plan;
    }
    if (format.Pcm() && !(plan.misread = ConverterMisreads(*source)).empty()) {
        plan.route = CleanPlan::Route::HandOver;
        plan.codec = KeepFormatCodec(*source);
        plan.copyBytes = kCanonicalHeaderBytes + source->dataBytes;
        plan.laterDataLeftOut = source->laterData;
        plan.bigEndian = source->bigEndian;
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

std::string CarryValidBits(const std::string& sourcePath, const std::string& copyPath) {
    PWaveIOHandle opened = nullptr;
    if (WaveIOOpen(opened, sourcePath.c_str()) != 0 || !opened) return {};
    const WaveIOHandlePtr source(opened);
    const SampleFormat format = Describe(*source);
    const uint16_t container = uint16_t(format.bytesPerSample * 8u);
    const uint16_t valid = ValidBits(*source);
    if ((format.kind != SampleKind::SignedInt && format.kind != SampleKind::Unsigned8) || valid >= container ||
        valid == 0)
        return {};
    const std::string counts = std::to_string(valid) + " valid bits in " + std::to_string(container) + "-bit containers";

    // WAVE_FORMAT_EXTENSIBLE: the record (18 bytes), then the valid bits.
    constexpr size_t kValidBitsAt = 18, kExtensibleBytes = 40;
    wc::FileHandle copy(::CreateFileW(wc::PathToWide(copyPath).c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
    if (!copy) return {};
    const std::optional<WaveChunkPlace> fmt = FindWaveChunk(copy.get(), "fmt ");
    uint8_t tag[2];
    if (!fmt || fmt->size < kExtensibleBytes || !ReadAt(copy.get(), fmt->bodyAt, tag, sizeof tag) ||
        uint16_t(tag[0] | tag[1] << 8) != kTagExtensible)
        return "the header field of " + counts + " was dropped: the converter writes no extensible header for " +
               "this layout, so the copy declares all " + std::to_string(container) + " bits valid";
    const uint8_t field[2] = {uint8_t(valid), uint8_t(valid >> 8)};
    LARGE_INTEGER at;
    at.QuadPart = int64_t(fmt->bodyAt + kValidBitsAt);
    DWORD written = 0;
    // A write that fails leaves the field as the converter wrote it: the check then fails the copy.
    if (::SetFilePointerEx(copy.get(), at, nullptr, FILE_BEGIN))
        ::WriteFile(copy.get(), field, sizeof field, &written, nullptr);
    return {};
}

namespace {

// Writes a PCM wave: its header, then its samples as they come. The header
// keeps room ("JUNK") for a "ds64" chunk, which it becomes, with "RIFF"
// turned into "RF64", when the data passes what 32-bit sizes hold. With
// speaker positions the format is written extensible, every bit valid.
class PcmWaveWriter {
public:
    PcmWaveWriter(const std::string& path, const WAVEFORMATEX& format, uint32_t mask)
        : format_(format), mask_(mask), headerBytes_(kFixedHeaderBytes + (mask ? kExtensionBytes : 0)) {
        // Others may keep the file open and delete it meanwhile: the job
        // holds it, and removes it when stopped.
        file_.reset(::CreateFileW(wc::PathToWide(path).c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file_) error_ = ::GetLastError();
        if (file_) {
            const std::vector<uint8_t> header = Header(0);
            WriteAll(header.data(), header.size());
        }
    }
    bool Write(const uint8_t* data, size_t size) {
        if (!WriteAll(data, size)) return false;
        dataBytes_ += size;
        return true;
    }
    // Writes the sizes; true when everything was written.
    bool Finish() {
        if (!file_ || error_) return false;
        if (dataBytes_ & 1) {
            const uint8_t pad = 0;
            if (!WriteAll(&pad, 1)) return false;
        }
        LARGE_INTEGER start{};
        if (!::SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN)) error_ = ::GetLastError();
        const std::vector<uint8_t> header = Header(dataBytes_);
        return !error_ && WriteAll(header.data(), header.size());
    }
    uint64_t DataBytes() const { return dataBytes_; }
    bool Beyond4GiB() const { return dataBytes_ > kLargestPlainWaveData; }
    // The system's error code of the first write that failed; 0: none.
    DWORD Error() const { return error_; }

private:
    // "RIFF" form (12), "JUNK" or "ds64" (8 + 28), "fmt " (8 + 16), "data" header (8).
    static constexpr uint32_t kFixedHeaderBytes = 80;
    static constexpr uint32_t kDs64Bytes = 28;
    // WAVE_FORMAT_EXTENSIBLE's cbSize (2) and extension (22).
    static constexpr uint32_t kExtensionBytes = 24;

    bool WriteAll(const uint8_t* data, size_t size) {
        while (size > 0 && !error_) {
            const DWORD chunk = DWORD(std::min<size_t>(size, 1u << 30));
            DWORD done = 0;
            if (!::WriteFile(file_.get(), data, chunk, &done, nullptr) || done != chunk) {
                error_ = ::GetLastError();
                if (!error_) error_ = ERROR_WRITE_FAULT;
            }
            data += done;
            size -= done;
        }
        return !error_;
    }
    static void Put16(uint8_t* at, uint16_t v) { at[0] = uint8_t(v), at[1] = uint8_t(v >> 8); }
    static void Put32(uint8_t* at, uint32_t v) {
        for (int i = 0; i < 4; ++i) at[i] = uint8_t(v >> (8 * i));
    }
    static void Put64(uint8_t* at, uint64_t v) {
        Put32(at, uint32_t(v));
        Put32(at + 4, uint32_t(v >> 32));
    }
    std::vector<uint8_t> Header(uint64_t dataBytes) const {
        std::vector<uint8_t> bytes(headerBytes_);
        uint8_t* h = bytes.data();
        const bool large = dataBytes > kLargestPlainWaveData;
        const uint64_t riffBytes = headerBytes_ - 8 + dataBytes + (dataBytes & 1);
        std::memcpy(h, large ? "RF64" : "RIFF", 4);
        Put32(h + 4, large ? 0xFFFFFFFF : uint32_t(riffBytes));
        std::memcpy(h + 8, "WAVE", 4);
        std::memcpy(h + 12, large ? "ds64" : "JUNK", 4);
        Put32(h + 16, kDs64Bytes);
        if (large) {
            Put64(h + 20, riffBytes);
            Put64(h + 28, dataBytes);
            Put64(h + 36, dataBytes / std::max<uint16_t>(format_.nBlockAlign, 1));
        }
        std::memcpy(h + 48, "fmt ", 4);
        Put32(h + 52, mask_ ? 16 + kExtensionBytes : 16);
        Put16(h + 56, mask_ ? kTagExtensible : format_.wFormatTag);
        Put16(h + 58, format_.nChannels);
        Put32(h + 60, format_.nSamplesPerSec);
        Put32(h + 64, format_.nAvgBytesPerSec);
        Put16(h + 68, format_.nBlockAlign);
        Put16(h + 70, format_.wBitsPerSample);
        uint8_t* next = h + 72;
        if (mask_) {
            // cbSize, valid bits, the mask, and the sub-format GUID
            // {tag-0000-0010-8000-00AA00389B71}.
            static constexpr uint8_t kGuidTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                                      0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
            Put16(next, kExtensionBytes - 2);
            Put16(next + 2, format_.wBitsPerSample);
            Put32(next + 4, mask_);
            Put32(next + 8, format_.wFormatTag);
            std::memcpy(next + 12, kGuidTail, sizeof kGuidTail);
            next += kExtensionBytes;
        }
        std::memcpy(next, "data", 4);
        Put32(next + 4, large ? 0xFFFFFFFF : uint32_t(dataBytes));
        return bytes;
    }

    WAVEFORMATEX format_;
    uint32_t mask_;
    uint32_t headerBytes_;
    wc::FileHandle file_;
    uint64_t dataBytes_ = 0;
    DWORD error_ = 0;
};

std::string WriteFailure(const std::string& path, DWORD error) {
    const bool full = error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
    return "the decoded copy \"" + path + "\" cannot be written" +
           (full ? std::string(": the drive is full") : " (error " + std::to_string(error) + ")");
}

}  // namespace

bool DecodeToPcmWave(const std::string& sourcePath, const std::string& pcmPath,
                     const std::function<void()>& betweenBlocks, DecodedWave& result, JobProgress* progress) {
    result = {};
    PWaveIOHandle opened = nullptr;
    if (WaveIOOpen(opened, sourcePath.c_str()) != 0 || !opened) {
        result.failure = "the source \"" + sourcePath + "\" cannot be read as a wave file";
        return false;
    }
    const WaveIOHandlePtr source(opened);
    WAVEFORMATEX pcm{};
    std::string why;
    const std::unique_ptr<DecodingStream> decoder = OpenDecodingStream(*source, pcm, why);
    if (!decoder) {
        result.failure = why + ": " + FormatText(*source);
        return false;
    }
    const std::optional<uint64_t> expectedFrames = AdpcmFrames(*source);
    // PCM goes over as the plain format of its containers, its speaker
    // positions kept.
    const SampleFormat format = Describe(*source);
    uint32_t mask = 0;
    if (format.Pcm()) {
        pcm = WavePCMFormat(format.channels, uint16_t(format.bytesPerSample * 8), format.rate);
        pcm.wFormatTag = format.tag;
        mask = SpeakerMask(*source);
    }

    PcmWaveWriter decoded(pcmPath, pcm, mask);
    std::vector<uint8_t> block;
    for (;;) {
        if (!decoder->Next(block)) {
            result.failure = decoder->failure;
            return false;
        }
        if (block.empty()) break;
        if (!decoded.Write(block.data(), block.size())) break;
        if (progress) progress->done += block.size();
        if (betweenBlocks) betweenBlocks();
    }
    if (!decoded.Finish()) {
        result.writeFailed = true;
        result.failure = WriteFailure(pcmPath, decoded.Error());
        return false;
    }
    result.dataBytes = decoded.DataBytes();
    result.beyond4GiB = decoded.Beyond4GiB();
    const uint64_t frames = decoded.DataBytes() / std::max<uint16_t>(pcm.nBlockAlign, 1);
    if (expectedFrames && frames != *expectedFrames) {
        result.failure = "the decoding gave " + std::to_string(frames) + " frames where the source's blocks give " +
                         std::to_string(*expectedFrames) + ": " + FormatText(*source);
        return false;
    }
    return true;
}

namespace {

// The newest bytes of a copy still being written are left to Finish: a
// writer may rewrite what it has just written (one that seeks back within
// its buffer). Far more than any converter's write buffer.
constexpr int64_t kNewestBytesLeft = 1 << 20;
// The most a call of Follow compares: about 15 ms of hashing, so the
// caller's thread answers input between slices while a copy of gigabytes
// is followed.
constexpr int64_t kFollowSliceBytes = 8 << 20;

}  // namespace

// The samples compared so far: the expected stream, the copy read in order
// from its data's start, and how far each has come.
struct CopyCheck::Comparison {
    enum class Step { Compared, Waiting, Ended, Failed };

    // Reads the expected samples through `opened` (the source, opened as a wave).
    Comparison(WaveIOHandlePtr opened, const std::string& outputPath, uint64_t dataAt)
        : source(std::move(opened)), copy(outputPath, int64_t(dataAt), INT64_MAX) {
        WAVEFORMATEX pcm{};
        expected = OpenDecodingStream(*source, pcm, openFailure);
    }

    // Compares the copy's next bytes with the expected block in turn, at
    // most `most` of them and none at or past `copyEnd` (a count of sample
    // bytes). `complete`: the copy ends at copyEnd, so bytes it lacks are a
    // difference; else they may yet come.
    Step Advance(int64_t copyEnd, int64_t most, bool complete) {
        if (blockDone == block.size()) {
            if (ended) return Step::Ended;
            if (!expected->Next(block)) {
                failure = expected->failure;
                return Step::Failed;
            }
            blockDone = 0;
            if (block.empty()) {
                ended = true;
                return Step::Ended;
            }
            expectedBytes += int64_t(block.size());
        }
        const size_t left = block.size() - blockDone;
        if (firstDifference >= 0) {  // from here the expected bytes are only counted
            blockDone = block.size();
            return Step::Compared;
        }
        const int64_t take = std::clamp<int64_t>(copyEnd - outputBytes, 0, std::min<int64_t>(int64_t(left), most));
        if (take == 0 && !complete) return Step::Waiting;
        written.resize(size_t(take));
        const int64_t read = copy.Read(written);
        if (read < 0) {
            failure = "the output's samples cannot be read";
            return Step::Failed;
        }
        const uint8_t* want = block.data() + blockDone;
        if (!SameBytes(want, written.data(), size_t(read)))
            firstDifference = outputBytes + (std::mismatch(want, want + read, written.begin()).first - want);
        else if (complete && size_t(read) < left)
            firstDifference = outputBytes + read;  // the copy ends early
        written.resize(size_t(read));
        md5.Add(written);  // hands the bytes over, with a buffer back for the next read
        outputBytes += read;
        blockDone = firstDifference >= 0 ? block.size() : blockDone + size_t(read);
        return Step::Compared;
    }

    WaveIOHandlePtr source;  // outlives the stream that reads through it
    std::unique_ptr<DecodingStream> expected;
    std::string openFailure;  // why there is no stream
    RegionReader copy;
    std::vector<uint8_t> block;  // the expected block under comparison
    size_t blockDone = 0;        // its bytes compared
    bool ended = false;          // the expected stream has ended
    int64_t expectedBytes = 0;   // handed out by the stream
    int64_t outputBytes = 0;     // of the copy, compared and hashed
    int64_t firstDifference = -1;  // byte offset
    std::string failure;         // a read that failed
    std::vector<uint8_t> written;
    SampleMd5 md5;
};

CopyCheck::CopyCheck(std::string expectedPath, std::string outputPath)
    : expectedPath_(std::move(expectedPath)), outputPath_(std::move(outputPath)) {}

CopyCheck::~CopyCheck() = default;

uint64_t CopyCheck::Compared() const { return comparison_ ? uint64_t(comparison_->outputBytes) : 0; }

bool CopyCheck::Follow() {
    if (!following_) return false;
    if (!growing_ && !(growing_ = OpenForReading(outputPath_))) return false;
    if (dataAt_ == 0) {
        // The header comes first: until its data chunk is there, nothing is.
        const std::optional<WaveChunkPlace> data = FindWaveChunk(growing_.get(), "data");
        if (!data) return false;
        dataAt_ = data->bodyAt;
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(growing_.get(), &size)) return false;
    const int64_t copyEnd = size.QuadPart - int64_t(dataAt_) - kNewestBytesLeft;
    if (!comparison_) {
        if (copyEnd <= 0) return false;  // a short copy is checked whole by Finish
        PWaveIOHandle opened = nullptr;
        if (WaveIOOpen(opened, expectedPath_.c_str()) != 0 || !opened) {
            following_ = false;  // Finish tells why
            return false;
        }
        comparison_ = std::make_unique<Comparison>(WaveIOHandlePtr(opened), outputPath_, dataAt_);
    }
    Comparison& c = *comparison_;
    if (!c.expected || !c.copy.Opened()) {
        following_ = false;  // Finish starts over and tells why
        return false;
    }
    const int64_t sliceEnd = c.outputBytes + kFollowSliceBytes;
    while (c.outputBytes < sliceEnd) {
        const Comparison::Step step = c.Advance(copyEnd, sliceEnd - c.outputBytes, false);
        if (step == Comparison::Step::Failed || step == Comparison::Step::Ended || c.firstDifference >= 0) {
            // Finish judges from here; a difference or a failure it finds again in the final file.
            following_ = false;
            return false;
        }
        if (step == Comparison::Step::Waiting) return false;
    }
    return c.outputBytes < copyEnd;
}

CleanCheckResult CopyCheck::Finish(const std::function<void()>& betweenBlocks, JobProgress* progress) {
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
    if (WaveIOOpen(opened, expectedPath_.c_str()) != 0 || !opened)
        return undecodable("the source \"" + expectedPath_ + "\" cannot be read as a wave file");
    WaveIOHandlePtr source(opened);  // handed to the comparison when it starts anew
    const SampleFormat sourceFormat = Describe(*source);
    const std::string sourceText = FormatText(*source);
    SampleFormat wanted;
    if (!ExpectedOutput(sourceFormat, wanted))
        return undecodable("nothing here decodes the source's format: " + sourceText);
    if (!wc::FileExists(outputPath_)) return differs("the output \"" + outputPath_ + "\" is missing");
    opened = nullptr;
    if (WaveIOOpen(opened, outputPath_.c_str()) != 0 || !opened)
        return differs("the output \"" + outputPath_ + "\" is not a RIFF WAVE file");
    const WaveIOHandlePtr output(opened);
    const SampleFormat outputFormat = Describe(*output);
    const std::string formats = "source " + sourceText + "; output " + FormatText(*output);
    if (!SameLayout(wanted, outputFormat)) return differs("format: " + formats);
    const uint32_t sourceMask = SpeakerMask(*source), outputMask = SpeakerMask(*output);
    if (!SamePositions(sourceMask, outputMask, source->format.nChannels))
        return differs("speaker positions: source " + Hex(sourceMask) + ", output " + Hex(outputMask) + "; " + formats);
    // An extensible header says the source's valid bits (CarryValidBits
    // puts them there); a plain one can only call every bit valid. Fewer
    // than the source's would let a reader drop bits that hold sound.
    const uint32_t containerBits = outputFormat.bytesPerSample * 8u;
    const uint32_t validWanted = output->format.wFormatTag == kTagExtensible
                                     ? std::min<uint32_t>(ValidBits(*source), containerBits)
                                     : containerBits;
    if (ValidBits(*output) != validWanted)
        return differs("valid bits: source " + std::to_string(ValidBits(*source)) + ", output " +
                       std::to_string(ValidBits(*output)) + "; " + formats);

    // What Follow compared stands where the final header agrees with it.
    const int64_t outputTotal = output->dataBytes;
    following_ = false;
    if (!comparison_ || !comparison_->expected || !comparison_->copy.Opened() || !comparison_->failure.empty() ||
        comparison_->firstDifference >= 0 || dataAt_ != output->dataOffset || comparison_->outputBytes > outputTotal)
        comparison_ = std::make_unique<Comparison>(std::move(source), outputPath_, output->dataOffset);
    Comparison& c = *comparison_;
    if (!c.expected) {
        if (sourceFormat.kind == SampleKind::CodecManager) return undecodable(c.openFailure + ": " + sourceText);
        return differs(c.openFailure + "; " + formats);
    }
    if (!c.copy.Opened()) return differs("the output's samples cannot be read; " + formats);

    if (progress) *progress = {JobProgress::Stage::Checking, uint64_t(c.outputBytes), output->dataBytes};
    for (;;) {
        const Comparison::Step step = c.Advance(outputTotal, INT64_MAX, true);
        if (step == Comparison::Step::Failed) return differs(c.failure + "; " + formats);
        if (step == Comparison::Step::Ended) break;
        if (progress) progress->done = uint64_t(std::min(c.expectedBytes, outputTotal));
        if (betweenBlocks) betweenBlocks();
    }
    // The wave layer measures a size it cannot believe to the end of the
    // file; a reader that believes the header must find the same.
    const std::optional<uint64_t> declared = DeclaredDataBytes(outputPath_);
    if (c.firstDifference < 0 && outputTotal == c.expectedBytes && declared != uint64_t(c.expectedBytes))
        return differs("declared data size " + (declared ? std::to_string(*declared) : std::string("none")) +
                       " bytes, where the output holds " + std::to_string(c.expectedBytes) + "; " + formats);
    if (c.firstDifference < 0 && outputTotal == c.expectedBytes) {
        result.verdict = Verdict::Verified;
        result.success = true;
        result.samplesMd5 = c.md5.Hex(result.md5Failure);
        return result;
    }
    const uint32_t frameBytes = output->format.nBlockAlign;
    const auto frames = [&](int64_t bytes) { return std::to_string(bytes / std::max<uint32_t>(frameBytes, 1)); };
    std::string what = "length: source " + frames(c.expectedBytes) + " frames, output " + frames(outputTotal) +
                       " frames; first differing frame " +
                       (c.firstDifference >= 0 ? frames(c.firstDifference)
                                               : frames(std::min(c.expectedBytes, outputTotal)));
    return differs(what + "; " + formats);
}

CleanCheckResult CheckCleanCopy(const std::string& sourcePath, const std::string& outputPath,
                                const std::function<void()>& betweenBlocks, JobProgress* progress) {
    return CopyCheck(sourcePath, outputPath).Finish(betweenBlocks, progress);
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
