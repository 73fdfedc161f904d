// What the cleaning job asks of the converter and how it checks the result.
//
// Every source takes one of three routes (PlanCleanJob):
// - Direct: the converter reads the source itself. Integer PCM keeps its
//   container size (8 bits come out as 16, 12 in 2 bytes as 16, 20 in 3 as
//   24, 64-bit as 64) and float PCM its width, through the codec option; the
//   copy is checked against the source's data bytes, against our Microsoft
//   ADPCM decoder, or against the system's codec manager (A-law, mu-law).
// - Decode: the converter decodes the format otherwise than the system does
//   (IMA ADPCM) or not at all, so the program decodes the source into a
//   temporary 16-bit PCM wave (the codec manager, or the MPEG library for
//   MPEG audio inside WAVE) and the converter cleans that; the copy must hold
//   exactly those samples.
// - Refuse: nothing here decodes the source, or no codec keeps its depth
//   (40-, 48- and 56-bit containers): the converter is not run and the job
//   fails with the reason in the log.
// Success is never judged by existence: the converter must have exited with
// 0 and the copy must be a wave file of the expected layout holding exactly
// the expected samples.
//
// Everything runs on the user-interface thread but one reader: the check of
// plain PCM reads the source one block ahead on a worker thread of its own
// while it reads the copy. The check and the decoding work in blocks and
// call back between them so the caller can dispatch window messages.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

struct WaveIOHandle;

// The codec option ("pcm_s24le", "pcm_s32le", "pcm_s64le", "pcm_f32le",
// "pcm_f64le") that keeps the source's sample format, or empty when the
// converter's default 16-bit PCM holds every sample (8- and 16-bit
// containers, compressed formats).
std::string KeepFormatCodec(const WaveIOHandle& source);
// The same for a file; empty when it is no readable wave file.
std::string KeepFormatCodecOf(const std::string& sourcePath);

struct CleanPlan {
    enum class Route { Direct, Decode, Refuse };
    Route route = Route::Refuse;
    std::string codec;        // Direct: the codec option, may be empty
    bool beyond4GiB = false;  // the copy may pass 4 GiB: the converter writes RF64
    uint64_t copyBytes = 0;   // the copy's size (canonical header and samples), for progress; 0: refused
    std::string reason;       // Refuse: why, for the log
};
CleanPlan PlanCleanJob(const std::string& sourcePath);

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

// Decodes the source (Decode route) into a 16-bit PCM wave at `pcmPath`.
// False with the reason in `failure`; a partial file is removed. Decoded
// data past 4 GiB gets the placeholder sizes 0xFFFFFFFF with the data last
// in the file, which the converter and the wave layer both read to the end.
// `progress`, when given, counts the bytes written (its total is the caller's).
bool DecodeToPcmWave(const std::string& sourcePath, const std::string& pcmPath,
                     const std::function<void()>& betweenBlocks, std::string& failure,
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
};

// Compares the clean copy at `outputPath` with the source (for the Decode
// route, with the decoded PCM wave). `betweenBlocks` runs after every block
// read (may be empty); `progress`, when given, is the Checking stage over
// the copy's sample bytes.
CleanCheckResult CheckCleanCopy(const std::string& sourcePath, const std::string& outputPath,
                                const std::function<void()>& betweenBlocks, JobProgress* progress = nullptr);

// Appends one line (and a line break) to a text file, creating it when
// missing; false when the file cannot be written.
bool AppendLogLine(const std::string& logPath, std::string_view line);
