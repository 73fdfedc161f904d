// MPEG audio fixtures made by the real ffmpeg.exe, and what ffmpeg itself
// says about them: their frames (one packet per frame when the stream is
// copied) and its own decoding.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "media/mpeg/MMMPEG.h"

namespace mpeg_tests {

// The path of a fixture by name, made on first use (see MpegFixtures.cpp
// for the list), in a folder that lives as long as the test process.
std::string Fixture(const std::string& name);
// A path in that folder for files a test writes.
std::string ScratchPath(const std::string& name);

// Runs ffmpeg.exe with these arguments in the fixture folder; true on exit code 0.
bool RunFfmpeg(const std::string& arguments);

struct FfmpegFrames {
    int frames = 0;
    double seconds = 0;  // the sum of the packet durations
};
// The packets of the file's audio stream when copied.
FfmpegFrames FramesOf(const std::string& fixture);
// ffmpeg's decoding as interleaved 16-bit samples (native channel count).
std::vector<int16_t> FfmpegDecode(const std::string& fixture);

// Decodes a whole file through TMMMpeg (opened, read to its end).
std::vector<int16_t> DecodeAll(TMMMpeg& mpeg, int32_t chunkBytes = 8192);
std::vector<int16_t> ToSamples(const std::vector<uint8_t>& bytes);

// The signal-to-noise ratio of `ours` against `reference` (interleaved,
// `channels` each) once aligned by the shift within +-maxShift sample frames
// that matches best.
double AlignedSnrDb(const std::vector<int16_t>& reference, const std::vector<int16_t>& ours, int channels, int maxShift);

inline const MpegEntryPoints& Lib() { return MpegLibrary(); }

// One decoder instance of the library for a test.
class Instance {
public:
    Instance();
    ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;
    void* get() const { return handle_; }

private:
    void* handle_ = nullptr;
};

MpegFileInfo InfoOf(void* instance);
// Reads an open instance to its end in reads of `chunkBytes`.
std::vector<int16_t> ReadToEnd(void* instance, int32_t chunkBytes = 6000);

}  // namespace mpeg_tests
