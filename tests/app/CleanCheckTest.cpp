// The job's own part around the converter, in this process: the codec option
// that keeps a source's sample format, and the check of a clean copy against
// its source, with copies written here as the converter would or would not.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cctype>
#include <tuple>

#include "app/CleanCheck.h"
#include "app/CleanJob.h"
#include "app/SampleDigest.h"
#include "framework/Handles.h"
#include "media/codecs/MMACM.h"
#include "support/TestSupport.h"

using namespace testing_support;
using Verdict = CleanCheckResult::Verdict;

namespace {

struct CodecCase {
    const char* what;
    uint16_t tag, channels, bits, subTag;
    const char* codec;
};

class KeepFormatCodecFor : public ::testing::TestWithParam<CodecCase> {};

TEST_P(KeepFormatCodecFor, NamesTheCodecForSamplesSixteenBitsCannotHold) {
    const CodecCase& c = GetParam();
    TempDir dir("wc codec");
    const std::string path = dir / "source.wav";
    const size_t frameBytes = size_t(c.channels) * ((c.bits + 7) / 8);
    WriteFileBytes(path, MakeWave(c.tag, c.channels, 44100, c.bits, PatternBytes(frameBytes * 100, 3), c.subTag));
    EXPECT_EQ(KeepFormatCodecOf(path), c.codec) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Formats, KeepFormatCodecFor,
    ::testing::Values(CodecCase{"8-bit PCM", kTagPcm, 1, 8, 0, "pcm_u8"},
                      CodecCase{"16-bit PCM", kTagPcm, 2, 16, 0, ""},
                      CodecCase{"12-bit PCM in 16-bit containers", kTagPcm, 2, 12, 0, ""},
                      CodecCase{"20-bit PCM in 24-bit containers", kTagPcm, 2, 20, 0, "pcm_s24le"},
                      CodecCase{"24-bit PCM", kTagPcm, 2, 24, 0, "pcm_s24le"},
                      CodecCase{"64-bit PCM", kTagPcm, 1, 64, 0, "pcm_s64le"},
                      CodecCase{"32-bit PCM", kTagPcm, 2, 32, 0, "pcm_s32le"},
                      CodecCase{"32-bit float", kTagFloat, 2, 32, 0, "pcm_f32le"},
                      CodecCase{"64-bit float", kTagFloat, 1, 64, 0, "pcm_f64le"},
                      CodecCase{"extensible 16-bit PCM", 0, 6, 16, kTagPcm, ""},
                      CodecCase{"extensible 24-bit PCM", 0, 6, 24, kTagPcm, "pcm_s24le"},
                      CodecCase{"extensible 32-bit PCM", 0, 2, 32, kTagPcm, "pcm_s32le"},
                      CodecCase{"extensible 32-bit float", 0, 2, 32, kTagFloat, "pcm_f32le"},
                      CodecCase{"A-law", 6, 1, 8, 0, ""}));

TEST(KeepFormatCodecOfFile, LeavesTheCommandAloneForAFileThatIsNoWave) {
    TempDir dir("wc codec");
    WriteFileBytes(dir / "noise.wav", PatternBytes(300, 9));
    EXPECT_EQ(KeepFormatCodecOf(dir / "noise.wav"), "");
    EXPECT_EQ(KeepFormatCodecOf(dir / "missing.wav"), "");
}

TEST(ConverterCommandLine, GuessesNoLayoutAndPutsTheOptionsJustBeforeTheOutputPath) {
    EXPECT_EQ(ConverterCommandLine("C:\\my music\\take 1.wav", "D:\\out\\~WaveCleaner-7-1.tmp", "pcm_s24le", false),
              "extras\\ffmpeg -guess_layout_max 2 -i \"C:\\my music\\take 1.wav\" -f wav -bitexact -y -c:a pcm_s24le "
              "\"D:\\out\\~WaveCleaner-7-1.tmp\"");
    EXPECT_EQ(ConverterCommandLine("C:\\a.wav", "E:\\\\x.tmp", "pcm_f64le", true),
              "extras\\ffmpeg -guess_layout_max 2 -i \"C:\\a.wav\" -f wav -bitexact -y -c:a pcm_f64le -rf64 auto "
              "\"E:\\\\x.tmp\"");
    EXPECT_EQ(ConverterCommandLine("C:\\a.wav", "D:\\out\\x.tmp", "", false),
              "extras\\ffmpeg -guess_layout_max 2 -i \"C:\\a.wav\" -f wav -bitexact -y \"D:\\out\\x.tmp\"");
}

// The check of one source against one output in a fresh folder.
class CleanCopyCheck : public ::testing::Test {
protected:
    CleanCheckResult Check(const std::vector<uint8_t>& sourceFile, const std::vector<uint8_t>* outputFile) {
        WriteFileBytes(source, sourceFile);
        if (outputFile) WriteFileBytes(output, *outputFile);
        return CheckCleanCopy(source, output, [this] { ++blocks, reached.push_back(progress); }, &progress);
    }
    TempDir dir{"wc check"};
    const std::string source = dir / "take.wav";
    const std::string output = dir / "Clean_take.wav";
    int blocks = 0;
    JobProgress progress;
    std::vector<JobProgress> reached;  // at each call between blocks
};

// The progress at each call, of a stage that must end with all `total` bytes done.
void ExpectStepsUpTo(const std::vector<JobProgress>& reached, JobProgress::Stage stage, uint64_t total) {
    ASSERT_GE(reached.size(), 2u);
    uint64_t before = 0;
    for (const JobProgress& p : reached) {
        EXPECT_EQ(p.stage, stage);
        EXPECT_GT(p.done, before) << "the count stood still or went back";
        before = p.done;
    }
    EXPECT_EQ(reached.back().done, total);
}

TEST_F(CleanCopyCheck, AnEqualSixteenBitCopyIsVerifiedWithNothingToLog) {
    const auto samples = MakeTestSamples16(2, 5000);
    const auto file = MakePcmWave(2, 44100, 16, samples);
    const auto result = Check(file, &file);
    EXPECT_EQ(result.verdict, Verdict::Verified);
    EXPECT_TRUE(result.success);
    EXPECT_EQ(result.logLine, "");
}

TEST_F(CleanCopyCheck, OneWrongSampleFailsAndNamesItsFrame) {
    const auto samples = MakeTestSamples16(2, 5000);
    auto changed = samples;
    changed[4 * 1234 + 2] ^= 0x10;  // frame 1234, right channel
    const auto out = MakePcmWave(2, 44100, 16, changed);
    const auto result = Check(MakePcmWave(2, 44100, 16, samples), &out);
    EXPECT_EQ(result.verdict, Verdict::Differs);
    EXPECT_FALSE(result.success);
    EXPECT_NE(result.logLine.find("first differing frame 1234"), std::string::npos) << result.logLine;
    EXPECT_NE(result.logLine.find("source 5000 frames, output 5000 frames"), std::string::npos) << result.logLine;
}

TEST_F(CleanCopyCheck, AShortCopyFailsAndTellsBothLengths) {
    const auto samples = MakeTestSamples16(1, 800);
    const std::vector<uint8_t> shorter(samples.begin(), samples.end() - 2);
    const auto out = MakePcmWave(1, 8000, 16, shorter);
    const auto result = Check(MakePcmWave(1, 8000, 16, samples), &out);
    EXPECT_FALSE(result.success);
    EXPECT_NE(result.logLine.find("source 800 frames, output 799 frames"), std::string::npos) << result.logLine;
}

TEST_F(CleanCopyCheck, AMissingOrForeignOutputFails) {
    const auto file = MakePcmWave(1, 8000, 16, MakeTestSamples16(1, 800));
    auto missing = Check(file, nullptr);
    EXPECT_FALSE(missing.success);
    EXPECT_NE(missing.logLine.find("missing"), std::string::npos) << missing.logLine;
    // Regression: a file left at the output path counted as a clean copy, whatever it held.
    const std::vector<uint8_t> stale{1, 2, 3};
    auto foreign = Check(file, &stale);
    EXPECT_FALSE(foreign.success);
    EXPECT_NE(foreign.logLine.find("not a RIFF WAVE file"), std::string::npos) << foreign.logLine;
}

// Regression: 24-bit sources came out as 16 bits and were reported as done.
TEST_F(CleanCopyCheck, ADeepSourceCutToSixteenBitsFailsOnItsFormat) {
    const std::vector<uint8_t> deep = PatternBytes(3 * 2 * 400, 5);
    const auto cut = MakePcmWave(2, 44100, 16, MakeTestSamples16(2, 400));
    const auto result = Check(MakeWave(kTagPcm, 2, 44100, 24, deep), &cut);
    EXPECT_FALSE(result.success);
    EXPECT_NE(result.logLine.find("format"), std::string::npos) << result.logLine;
}

TEST_F(CleanCopyCheck, DeepAndFloatSourcesNeedTheirOwnFormatAndBytes) {
    for (const auto& [tag, bits, subTag] : {std::tuple{kTagPcm, 24, 0}, std::tuple{kTagPcm, 32, 0},
                                            std::tuple{kTagFloat, 32, 0}, std::tuple{kTagFloat, 64, 0}, std::tuple{kTagPcm, 64, 0},
                                            std::tuple{uint16_t(0), 24, int(kTagPcm)}}) {
        const auto data = PatternBytes(size_t(bits / 8) * 6 * 300, bits);
        const auto file = MakeWave(tag, 6, 48000, uint16_t(bits), data, uint16_t(subTag));
        // The converter writes extensible for these, with no speaker positions (mask 0, at byte 40)
        // for a plain source; plain tags hold the same samples.
        const auto plain = MakeWave(subTag ? uint16_t(subTag) : tag, 6, 48000, uint16_t(bits), data);
        auto unplaced = MakeWave(0, 6, 48000, uint16_t(bits), data, tag == kTagFloat ? kTagFloat : kTagPcm);
        std::fill(unplaced.begin() + 40, unplaced.begin() + 44, 0);
        EXPECT_TRUE(Check(plain, &unplaced).success) << bits << " bits, tag " << tag;
        EXPECT_TRUE(Check(file, &file).success) << bits << " bits, tag " << tag;
        if (subTag) {
            EXPECT_FALSE(Check(file, &plain).success) << "the speaker positions were dropped";
        }
    }
}

// Regression: 8-bit sources came out as 16-bit copies, which the check asked for.
TEST_F(CleanCopyCheck, EightBitSamplesStayEightBit) {
    // Unsigned 8-bit samples and the signed 16-bit values they stand for.
    const std::vector<uint8_t> narrow{0x00, 0x01, 0x7F, 0x80, 0x81, 0xFE, 0xFF, 0x40};
    const std::vector<uint8_t> wide{0x00, 0x80, 0x00, 0x81, 0x00, 0xFF, 0x00, 0x00,
                                    0x00, 0x01, 0x00, 0x7E, 0x00, 0x7F, 0x00, 0xC0};
    const auto eight = MakeWave(kTagPcm, 2, 11025, 8, narrow);
    EXPECT_TRUE(Check(eight, &eight).success);
    const auto sixteen = MakeWave(kTagPcm, 2, 11025, 16, wide);
    const auto result = Check(eight, &sixteen);
    EXPECT_FALSE(result.success);
    EXPECT_NE(result.logLine.find("format"), std::string::npos) << result.logLine;
}

// An extensible source with fewer valid bits than its containers hold, and a copy as the converter writes
// it: extensible with every bit valid, or a plain header for 16-bit stereo.
struct ValidBitsCase {
    const char* what;
    uint16_t container, valid, channels;
    bool copyExtensible;
    unsigned copyValidAfter;  // the copy's valid bits once carried over
    const char* note;         // part of the note for the log; "" for none
};

class ValidBitsOf : public CleanCopyCheck, public ::testing::WithParamInterface<ValidBitsCase> {};

TEST_P(ValidBitsOf, AreCarriedIntoAnExtensibleCopyOrNotedAsDropped) {
    const ValidBitsCase& c = GetParam();
    const auto data = PatternBytes(size_t(c.container / 8) * c.channels * 300, 20);
    auto sourceFile = MakeWave(0, c.channels, 48000, c.container, data, kTagPcm);
    sourceFile[38] = uint8_t(c.valid);  // the valid bits of the extensible format
    auto copyFile = c.copyExtensible ? MakeWave(0, c.channels, 48000, c.container, data, kTagPcm)
                                     : MakePcmWave(c.channels, 48000, c.container, data);
    WriteFileBytes(output, copyFile);
    EXPECT_EQ(Check(sourceFile, &copyFile).success, !c.copyExtensible) << "before the valid bits are carried over";
    WriteFileBytes(source, sourceFile);
    const std::string note = CarryValidBits(source, output);
    EXPECT_EQ(note.empty(), *c.note == 0) << note;
    EXPECT_NE(note.find(c.note), std::string::npos) << note;
    const auto carried = ReadFileBytes(output);
    const auto fmt = ChunkOf(carried, "fmt ");
    EXPECT_EQ(c.copyExtensible ? U16At(fmt, 18) : U16At(fmt, 14), c.copyValidAfter);
    const auto result = CheckCleanCopy(source, output, {});
    EXPECT_TRUE(result.success) << result.logLine;
}

INSTANTIATE_TEST_SUITE_P(
    Copies, ValidBitsOf,
    ::testing::Values(ValidBitsCase{"twenty_in_24", 24, 20, 6, true, 20, ""},
                      ValidBitsCase{"twenty_four_in_32", 32, 24, 2, true, 24, ""},
                      ValidBitsCase{"twelve_in_16", 16, 12, 2, false, 16,
                                    "12 valid bits in 16-bit containers was dropped"}),
    [](const auto& info) { return std::string(info.param.what); });

// Regression: a source nothing here decodes was judged by the output's existence, so junk counted as success.
TEST_F(CleanCopyCheck, AFormatNothingHereDecodesIsNeverASuccess) {
    const auto unknown = MakeWave(0x1234, 2, 44100, 0, PatternBytes(4000, 8));
    const std::vector<uint8_t> anything{9, 9, 9};
    const auto present = Check(unknown, &anything);
    EXPECT_EQ(present.verdict, Verdict::Undecodable);
    EXPECT_FALSE(present.success);
    EXPECT_NE(present.logLine.find("nothing here decodes"), std::string::npos) << present.logLine;
}

struct PlanCase {
    const char* what;
    uint16_t tag, bits;
    CleanPlan::Route route;
    const char* reasonPart;  // in the refusal's reason
};

class CleanPlanFor : public ::testing::TestWithParam<PlanCase> {};

// Regression: 40-, 48- and 56-bit sources came out as no wave at all, with the success message.
TEST_P(CleanPlanFor, RefusesWhatNoCodecKeepsOrNothingDecodes) {
    const PlanCase& c = GetParam();
    TempDir dir("wc plan");
    const size_t frameBytes = size_t(2) * ((c.bits + 7) / 8);
    WriteFileBytes(dir / "source.wav", MakeWave(c.tag, 2, 48000, c.bits, PatternBytes(frameBytes * 50, 1)));
    const CleanPlan plan = PlanCleanJob(dir / "source.wav");
    EXPECT_EQ(plan.route, c.route) << c.what;
    EXPECT_NE(plan.reason.find(c.reasonPart), std::string::npos) << plan.reason;
}

INSTANTIATE_TEST_SUITE_P(
    Sources, CleanPlanFor,
    ::testing::Values(PlanCase{"16-bit PCM", kTagPcm, 16, CleanPlan::Route::Direct, ""},
                      PlanCase{"64-bit PCM", kTagPcm, 64, CleanPlan::Route::Direct, ""},
                      PlanCase{"40-bit PCM", kTagPcm, 40, CleanPlan::Route::Refuse,
                               "no codec keeps 40-bit samples in 40-bit containers"},
                      PlanCase{"48-bit PCM", kTagPcm, 48, CleanPlan::Route::Refuse, "48-bit samples"},
                      PlanCase{"56-bit PCM", kTagPcm, 56, CleanPlan::Route::Refuse, "56-bit samples"},
                      PlanCase{"an unknown tag", 0x1234, 16, CleanPlan::Route::Refuse, "nothing here decodes"}));

// Regression: the bar stood still while the copy was checked; the check now counts what it compared.
TEST_F(CleanCopyCheck, ReadsALongSourceInManyBlocksCountingTheBytesCompared) {
    // 9 600 000 bytes: three reads of 4 MiB at most, each followed by the call.
    const auto file = MakePcmWave(2, 44100, 16, MakeTestSamples16(2, 2400000));
    EXPECT_TRUE(Check(file, &file).success);
    EXPECT_GE(blocks, 3);
    ExpectStepsUpTo(reached, JobProgress::Stage::Checking, 9600000);
    EXPECT_EQ(reached.front().total, 9600000u);
}

TEST_F(CleanCopyCheck, DecodingCountsThePcmBytesWritten) {
    // 300 000 A-law bytes, any byte a sample: 600 000 bytes of 16-bit PCM, in many blocks.
    const AcmScope acm;  // the system's decoder, as the program binds it at start
    WriteFileBytes(source, MakeWave(6, 1, 8000, 8, PatternBytes(300000, 7)));
    progress = {JobProgress::Stage::Decoding, 0, 600044};
    DecodedWave decoded;
    ASSERT_TRUE(DecodeToPcmWave(source, output, [this] { reached.push_back(progress); }, decoded, &progress))
        << decoded.failure;
    ExpectStepsUpTo(reached, JobProgress::Stage::Decoding, 600000);
    EXPECT_EQ(ChunkOf(ReadFileBytes(output), "data").size(), 600000u);
}

// A converter as the check sees it: the header first, its sizes still
// open, then the samples in pieces, the sizes filled in at the end.
class GrowingCopy {
public:
    explicit GrowingCopy(const std::string& path)
        : file_(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    void Write(uint64_t at, const uint8_t* bytes, size_t count) {
        LARGE_INTEGER offset;
        offset.QuadPart = int64_t(at);
        DWORD written = 0;
        ASSERT_TRUE(::SetFilePointerEx(file_.get(), offset, nullptr, FILE_BEGIN));
        ASSERT_TRUE(::WriteFile(file_.get(), bytes, DWORD(count), &written, nullptr) && written == count);
    }
    void Write(uint64_t at, const std::vector<uint8_t>& bytes) { Write(at, bytes.data(), bytes.size()); }

private:
    wc::FileHandle file_;
};

enum class Writing {
    InOrder,           // the samples once, in order
    DifferenceMended,  // a wrong sample, seen while following, written right before the end
    DifferenceStays,   // a wrong sample, never mended
    SamplesMove,       // at the end the file is written anew, a chunk more ahead of the samples
    EndsShort,         // at the end the header gives fewer samples than were followed, the rest a chunk
};
struct FollowCase {
    const char* what;
    Writing writing;
    Verdict verdict;
    const char* logged;  // in the log line; "" for none
};

class CopyFollowedWhileWritten : public CleanCopyCheck, public ::testing::WithParamInterface<FollowCase> {};

// 2 500 000 stereo frames, 10 000 000 bytes of samples behind a 44-byte
// header: more than one slice and several blocks of the source's reads.
TEST_P(CopyFollowedWhileWritten, GivesTheVerdictOfTheWholeCheckOnTheFinalFile) {
    const FollowCase& c = GetParam();
    constexpr size_t kHeader = 44, kWrongAt = kHeader + 4 * 1234;
    const auto samples = MakeTestSamples16(2, 2500000);
    const auto file = MakePcmWave(2, 44100, 16, samples);
    WriteFileBytes(source, file);
    CopyCheck check(source, output);
    {
        GrowingCopy copy(output);
        std::vector<uint8_t> open(file.begin(), file.begin() + kHeader);
        for (size_t at : {4u, 40u}) std::fill_n(open.begin() + at, 4, uint8_t(0xFF));
        copy.Write(0, open);
        EXPECT_FALSE(check.Follow()) << "nothing to compare behind the header yet";
        std::vector<uint8_t> written(file.begin() + kHeader, file.end());
        const bool wrong = c.writing == Writing::DifferenceMended || c.writing == Writing::DifferenceStays;
        if (wrong) written[kWrongAt - kHeader] ^= 0x40;
        // Pieces of odd sizes, each followed as far as it goes.
        for (size_t at = 0, piece = 3000001; at < written.size(); at += piece, piece = std::max<size_t>(piece / 2, 100003)) {
            const size_t n = std::min(piece, written.size() - at);
            copy.Write(kHeader + at, written.data() + at, n);
            while (check.Follow()) {
            }
        }
        EXPECT_GT(check.Compared(), 0u) << "the copy was not followed";
        EXPECT_LT(check.Compared(), written.size()) << "the newest bytes are left to the end";
        if (c.writing == Writing::DifferenceMended) copy.Write(kWrongAt, &file[kWrongAt], 1);
        copy.Write(0, std::vector<uint8_t>(file.begin(), file.begin() + kHeader));
    }
    if (c.writing == Writing::SamplesMove) {
        std::vector<uint8_t> moved = file;
        const uint8_t note[] = {'J', 'U', 'N', 'K', 6, 0, 0, 0, 1, 2, 3, 4, 5, 6};
        moved.insert(moved.begin() + 36, note, note + sizeof note);  // before "data"
        moved[4] += sizeof note;
        GrowingCopy(output).Write(0, moved);  // the check holds the copy open: written as the converter would
    } else if (c.writing == Writing::EndsShort) {
        std::vector<uint8_t> shorter = file;
        const uint32_t dataBytes = 4000000, junkBytes = 10000000 - dataBytes - 8;
        for (int i = 0; i < 4; ++i) shorter[40 + i] = uint8_t(dataBytes >> (8 * i));
        uint8_t chunk[8] = {'J', 'U', 'N', 'K'};
        for (int i = 0; i < 4; ++i) chunk[4 + i] = uint8_t(junkBytes >> (8 * i));
        std::copy(chunk, chunk + sizeof chunk, shorter.begin() + kHeader + dataBytes);
        GrowingCopy(output).Write(0, shorter);
    }

    const CleanCheckResult followed = check.Finish({}, &progress);
    const CleanCheckResult whole = CheckCleanCopy(source, output, {});
    EXPECT_EQ(followed.verdict, c.verdict) << followed.logLine;
    EXPECT_NE(followed.logLine.find(c.logged), std::string::npos) << followed.logLine;
    EXPECT_EQ(followed.logLine, whole.logLine);
    EXPECT_EQ(followed.samplesMd5, whole.samplesMd5);
    EXPECT_EQ(followed.samplesMd5.size(), c.verdict == Verdict::Verified ? 32u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Writers, CopyFollowedWhileWritten,
    ::testing::Values(FollowCase{"in order", Writing::InOrder, Verdict::Verified, ""},
                      // Regression guard: a difference seen while following must not outlive its mending.
                      FollowCase{"a difference mended", Writing::DifferenceMended, Verdict::Verified, ""},
                      FollowCase{"a difference kept", Writing::DifferenceStays, Verdict::Differs,
                                 "first differing frame 1234"},
                      FollowCase{"samples moved", Writing::SamplesMove, Verdict::Verified, ""},
                      FollowCase{"ends short", Writing::EndsShort, Verdict::Differs,
                                 "length: source 2500000 frames, output 1000000 frames"}),
    [](const ::testing::TestParamInfo<FollowCase>& info) {
        std::string name = info.param.what;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

// The system's MD5 of a buffer in one call, as the oracle for the digest's
// own hand-over of pieces to its worker.
std::string SystemMd5(const std::vector<uint8_t>& bytes) {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    BYTE digest[16];
    DWORD size = sizeof digest;
    std::string hex;
    if (::CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
        ::CryptCreateHash(provider, CALG_MD5, 0, 0, &hash) &&
        ::CryptHashData(hash, bytes.data(), DWORD(bytes.size()), 0) &&
        ::CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0))
        for (BYTE byte : digest) hex += "0123456789abcdef"[byte >> 4], hex += "0123456789abcdef"[byte & 15];
    if (hash) ::CryptDestroyHash(hash);
    if (provider) ::CryptReleaseContext(provider, 0);
    return hex;
}

TEST(SampleDigest, HashesPiecesOfAnySizeAsTheSystemHashesTheWhole) {
    // Small pieces (hashed at once), then large ones (handed to the worker), then small again.
    const std::vector<size_t> pieces{1, 63, 4096, 3 << 20, 5, 4 << 20, (1 << 20) - 1, 1 << 20, 7, 2 << 20, 0, 12345};
    size_t total = 0;
    for (size_t piece : pieces) total += piece;
    const auto bytes = PatternBytes(total, 11);
    SampleMd5 md5;
    std::vector<uint8_t> piece;
    for (size_t at = 0, i = 0; i < pieces.size(); at += pieces[i++]) {
        piece.assign(bytes.begin() + at, bytes.begin() + at + pieces[i]);
        md5.Add(piece);
    }
    std::string why;
    const std::string expected = SystemMd5(bytes);
    ASSERT_EQ(expected.size(), 32u);
    EXPECT_EQ(md5.Hex(why), expected) << why;
}

TEST(CleanCheckLog, AppendsOneLineToWhatIsThere) {
    TempDir dir("wc log");
    const std::string log = dir / "Cvlog.log";
    WriteFileBytes(log, {'f', 'f', 'm', 'p', 'e', 'g', '\n'});
    ASSERT_TRUE(AppendLogLine(log, "clean copy check failed: x"));
    const auto bytes = ReadFileBytes(log);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "ffmpeg\nclean copy check failed: x\r\n");
    ASSERT_TRUE(AppendLogLine(dir / "new.log", "line"));
    const auto fresh = ReadFileBytes(dir / "new.log");
    EXPECT_EQ(std::string(fresh.begin(), fresh.end()), "line\r\n");
}

}  // namespace
