// What the cleaning job asks of the converter and how it checks the result.
//
// The converter's fixed command line writes 16-bit PCM unless told a codec,
// so sources whose samples 16 bits do not hold exactly (integer PCM deeper
// than 16 bits, float PCM) get the codec option that keeps their format.
//
// After the converter has ended, the clean copy counts only when it is a RIFF
// WAVE file whose samples equal the source's: the same data bytes for PCM
// (8-bit samples widened to 16 bits as the converter does), the source
// decoded by our Microsoft ADPCM decoder or by the system's codec manager for
// compressed sources. A source format neither can decode is judged by the
// output's existence alone. Everything runs on the user-interface thread;
// the check reads in blocks and calls back between them so the caller can
// dispatch window messages.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

struct WaveIOHandle;

// The codec option ("pcm_s24le", "pcm_s32le", "pcm_f32le", "pcm_f64le") that
// keeps the source's sample format, or empty when the converter's default
// 16-bit PCM holds every sample (8- and 16-bit PCM, compressed formats).
std::string KeepFormatCodec(const WaveIOHandle& source);
// The same for a file; empty when it is no readable wave file.
std::string KeepFormatCodecOf(const std::string& sourcePath);

// The output of a checked job: whether success may be told, and the line for
// the log (empty when there is nothing to tell support).
struct CleanCheckResult {
    enum class Verdict {
        Verified,      // the output holds exactly the source's samples
        Differs,       // missing, not a wave file, another format, length or sample
        Unverifiable,  // the source cannot be decoded here: judged by existence
    };
    Verdict verdict = Verdict::Differs;
    bool success = false;
    std::string logLine;
};

// Compares the clean copy at `outputPath` with the source. `betweenBlocks`
// runs after every block read (may be empty).
CleanCheckResult CheckCleanCopy(const std::string& sourcePath, const std::string& outputPath,
                                const std::function<void()>& betweenBlocks);

// Appends one line (and a line break) to a text file, creating it when
// missing; false when the file cannot be written.
bool AppendLogLine(const std::string& logPath, std::string_view line);
