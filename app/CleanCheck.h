// What the cleaning job asks of the converter and how it checks the result.
//
// Every source takes one of three routes (PlanCleanJob):
// - Direct: the converter reads the source itself. Integer PCM keeps its
//   container size (8 bits unsigned, 12 in 2 bytes as 16, 20 in 3 as 24,
//   64-bit as 64) and float PCM its width, through the codec option; the
//   copy is checked against the source's data bytes, or against the system's
//   codec manager (A-law, mu-law).
// - Decode: the program decodes the source into a temporary 16-bit PCM wave
//   and the converter cleans that; the copy must hold exactly those samples.
//   So it is for ADPCM (our own decoders: the converter's IMA arithmetic
//   differs from the system's, and the system's codec drops a short last
//   block), for MPEG audio inside WAVE (the MPEG library) and for what only
//   the system's codec manager decodes (GSM 6.10 and others).
// - HandOver: PCM that the converter would read otherwise than the wave
//   layer (BW64 and big-endian RIFX forms, which it cannot read; several
//   data chunks, of which it takes the last; fewer valid bits than the
//   container, 24 of 32 being read as floats; a data size that is not the
//   region the wave layer measured, as an interrupted recording leaves).
//   The program writes the wave layer's samples as a plain little-endian
//   PCM wave, the converter cleans that in the kept format, and the copy
//   is checked against the source itself.
// - Refuse: nothing here decodes the source, or no codec keeps its depth
//   (40-, 48- and 56-bit containers): the converter is not run and the job
//   fails with the reason in the log.
// Success is never judged by existence: the converter must have exited with
// 0 and the copy must be a wave file of the expected layout, speaker
// positions and valid bits, declaring and holding exactly the expected
// samples. The converter is told to guess no speaker positions past two
// channels, so the copy keeps those its source declares, or none.
//
// Everything runs on the user-interface thread but two workers: the check
// of plain PCM reads the source one block ahead on a worker thread of its
// own while it reads the copy, and the MD5 of a large copy is taken on
// another (SampleDigest). The check and the decoding work in blocks and
// call back between them so the caller can dispatch window messages.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "framework/Handles.h"

struct WaveIOHandle;

// The codec option ("pcm_u8", "pcm_s24le", "pcm_s32le", "pcm_s64le",
// "pcm_f32le", "pcm_f64le") that keeps the source's sample format, or empty
// when the converter's default 16-bit PCM holds every sample (16-bit
// containers, compressed formats).
std::string KeepFormatCodec(const WaveIOHandle& source);
// The same for a file; empty when it is no readable wave file.
std::string KeepFormatCodecOf(const std::string& sourcePath);

struct CleanPlan {
    enum class Route { Direct, Decode, HandOver, Refuse };
    Route route = Route::Refuse;
    std::string codec;        // Direct, HandOver: the codec option, may be empty
    std::string misread;      // HandOver: what the converter would read wrong
    bool laterDataLeftOut = false;  // HandOver: data chunks behind the first are not cleaned
    bool bigEndian = false;         // HandOver: a RIFX source, whose copy is little-endian
    bool beyond4GiB = false;  // the copy may pass 4 GiB: the converter writes RF64
    uint64_t copyBytes = 0;   // the copy's size (canonical header and samples), for progress; 0: refused
    std::string reason;       // Refuse: why, for the log
};
CleanPlan PlanCleanJob(const std::string& sourcePath);

// Where the source declares fewer valid bits than its integer containers
// hold, writes that count into the copy's extensible header (the converter
// declares every bit valid). Returns a note for the log when the copy has
// no extensible header to hold it (the converter writes a plain one for
// 16-bit containers of one or two channels), else empty.
std::string CarryValidBits(const std::string& sourcePath, const std::string& copyPath);

// How far the stages of one file's job that run in the program have come,
// kept current before each call of the block callback (on the same thread)
// for whoever shows progress. The converter's own stage is measured by the
// size of its output instead.
struct JobProgress {
    enum class Stage { Decoding, Converting, Checking };
    Stage stage = Stage::Converting;
    uint64_t done = 0;   // Decoding: PCM bytes written; Checking: copy bytes compared
    uint64_t total = 0;  // of this many; 0 when unknown
};

// What the decoding of a source gave.
struct DecodedWave {
    uint64_t dataBytes = 0;   // of 16-bit PCM written
    bool beyond4GiB = false;  // the wave was written as RF64: its copy must be too
    bool writeFailed = false; // the failure was in writing, not in decoding
    std::string failure;      // why it failed, for the log
};

// Decodes the source (Decode route) into a 16-bit PCM wave at `pcmPath`,
// made anew (others may keep it open meanwhile, and delete it); PCM
// (HandOver route) is written as the wave layer reads it, in the plain
// little-endian format of its containers with its speaker positions. An ADPCM
// source must decode to exactly the frames its blocks give (AdpcmFrames).
// Data past what 32-bit sizes hold makes the wave RF64. False with the
// reason in `result`; a partial file is left for the caller to remove.
// `progress`, when given, counts the bytes written (its total is the
// caller's).
bool DecodeToPcmWave(const std::string& sourcePath, const std::string& pcmPath,
                     const std::function<void()>& betweenBlocks, DecodedWave& result,
                     JobProgress* progress = nullptr);

// The output of a checked job: whether success may be told, and the line for
// the log (empty when there is nothing to tell support).
struct CleanCheckResult {
    enum class Verdict {
        Verified,     // the output holds exactly the source's samples
        Differs,      // missing, not a wave file, another format, length or sample
        Undecodable,  // the source cannot be decoded here: never success
    };
    Verdict verdict = Verdict::Differs;
    bool success = false;
    std::string logLine;
    std::string samplesMd5;  // Verified: the MD5 of the copy's sample bytes (empty, with
                             // the reason in md5Failure, when none could be taken)
    std::string md5Failure;
};

// The check of one clean copy against the source (for the Decode route,
// against the decoded PCM wave): its layout, its speaker positions and
// valid bits, the data size its header declares, and every sample, hashed
// as it is read.
//
// It may begin while the converter still writes the copy. A converter
// writes the samples once, in order, behind a header whose sizes it fills
// in at the end: Follow compares the samples the copy has gained so far,
// and Finish, once the converter has ended, judges the final header and
// compares the rest. A copy of gigabytes is then checked while it is
// converted, not after. What Follow compared counts only where the final
// header agrees with it (the same data offset, at least as many sample
// bytes); a difference found while following, or a header that does not
// agree, sends Finish over the whole copy from its start, so a verdict
// always describes the final file. The newest bytes of the growing copy
// are left to Finish.
//
// Runs on its caller's thread, but for the source's read-ahead (DecodingStreams).
class CopyCheck {
public:
    CopyCheck(std::string expectedPath, std::string outputPath);
    ~CopyCheck();
    CopyCheck(const CopyCheck&) = delete;
    CopyCheck& operator=(const CopyCheck&) = delete;

    // Compares at most a slice of what the copy has gained since the last
    // call. True when more is there to compare now; false when it has
    // caught up, the copy has no samples yet, or following has ended.
    bool Follow();
    // Bytes of the copy's samples compared so far.
    uint64_t Compared() const;
    // The verdict on the copy as it stands: call once the converter has
    // ended. `betweenBlocks` runs after every block read (may be empty);
    // `progress`, when given, is the Checking stage over the copy's sample
    // bytes, starting from those already compared.
    CleanCheckResult Finish(const std::function<void()>& betweenBlocks, JobProgress* progress = nullptr);

private:
    struct Comparison;
    std::string expectedPath_, outputPath_;
    wc::FileHandle growing_;                  // the copy as Follow watches it grow
    uint64_t dataAt_ = 0;                     // where its samples begin; 0: not known yet
    std::unique_ptr<Comparison> comparison_;  // null until samples are compared
    bool following_ = true;                   // Follow may go on
};

// The whole check of a copy that is complete: CopyCheck's Finish alone.
CleanCheckResult CheckCleanCopy(const std::string& sourcePath, const std::string& outputPath,
                                const std::function<void()>& betweenBlocks, JobProgress* progress = nullptr);

// Appends one line (and a line break) to a text file, creating it when
// missing; false when the file cannot be written.
bool AppendLogLine(const std::string& logPath, std::string_view line);
