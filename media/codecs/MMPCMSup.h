// Routines on blocks of PCM samples in memory: width conversion between 8
// and 16 bits, per-channel volume scaling with clipping, and peak finding.
// 8-bit samples are unsigned with 128 as the zero line; 16-bit samples are
// signed little-endian words; stereo frames are left, then right.
// Nothing here allocates or raises.
#pragma once

#include "media/codecs/MMWaveRecords.h"

#include <cstdint>

// Unity gain of PCMScaleVolume: gains are fixed point with 14 fraction bits.
constexpr int32_t kPCMUnityGain = 16384;

// True for a PCM format these routines and the ADPCM format suggestion can
// work with: tag 1, one or two channels, 8 or 16 bits, a rate of at least 1.
bool PCMIsValidFormat(const WAVEFORMATEX* format) noexcept;

// Converts `sourceBytes` bytes of `sourceBits`-wide samples to `destBits`
// (8 or 16) and returns the bytes written. Destination and source may be the
// same buffer. Widths other than 8 and 16 convert nothing.
uint32_t PCMConvertBits(int destBits, void* dest, int sourceBits, const void* source, uint32_t sourceBytes) noexcept;

// Scales the whole frames of `buffer` in place, the first sample of a frame
// by `leftGain` and the second by `rightGain` (mono: every sample by
// `leftGain`). True when a sample was clipped. False, with the buffer left
// alone, without a format or for a format that is not PCM.
bool PCMScaleVolume(const WAVEFORMATEX* format, void* buffer, uint32_t bytes, int32_t leftGain,
                    int32_t rightGain) noexcept;

// The lowest and highest sample of each channel, each pair in the order in
// which the two were first seen. 8-bit results are on the unsigned byte
// scale. Mono data repeats the left pair as the right pair.
void PCMFindPeaks(const WAVEFORMATEX* format, const void* data, uint32_t bytes, int16_t& leftFirst,
                  int16_t& leftSecond, int16_t& rightFirst, int16_t& rightSecond) noexcept;

// The ways PCMFindPeaks scans 16-bit data; it takes the fastest this
// processor runs. Each is reachable on its own, so that all can be held
// against one another.
enum class PCMPeakScan { scalar, sse2, avx2, avx512 };
bool PCMPeakScanAvailable(PCMPeakScan scan) noexcept;
// PCMFindPeaks by that way; one the processor lacks gives way to the scalar scan.
void PCMFindPeaksUsing(PCMPeakScan scan, const WAVEFORMATEX* format, const void* data, uint32_t bytes,
                       int16_t& leftFirst, int16_t& leftSecond, int16_t& rightFirst, int16_t& rightSecond) noexcept;

// Wide PCM for drawing: integer PCM of 24 or 32 bits and IEEE float of 32 or
// 64 bits (tag 1, tag 3 with 32 or 64 bits, or an extensible format record,
// tag 0xFFFE, whose sub-format is one of those). Tag 3 with 4 bits is an
// ADPCM and is not wide.
bool PCMIsWideFormat(const WAVEFORMATEX* format) noexcept;

// PCMFindPeaks for wide PCM, on the 16-bit scale: integers by their top 16
// bits, floats times 32768 rounded down and held to -32768 ... 32767 (NaN as
// 0). The first two channels are reported (mono repeats the left pair);
// whole frames only (nChannels * wBitsPerSample / 8 bytes). The pairs follow
// PCMFindPeaks's rules for 16-bit data. False, with 0 for every result, for
// a format that is not wide; 0 for every result for a block without a frame.
bool PCMFindWidePeaks(const WAVEFORMATEX* format, const void* data, uint32_t bytes, int16_t& leftFirst,
                      int16_t& leftSecond, int16_t& rightFirst, int16_t& rightSecond) noexcept;
