// The system's wave format record for the units that need nothing else of
// the system (the codec and sample routines): on Windows the system's own
// declaration, elsewhere (the fuzzing build on the host) the same packed
// layout.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>
#else
#include <cstdint>

#pragma pack(push, 1)
struct WAVEFORMATEX {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
};
#pragma pack(pop)
#ifndef WAVE_FORMAT_PCM
#define WAVE_FORMAT_PCM 1
#endif
#endif

static_assert(sizeof(WAVEFORMATEX) == 18, "the wave format record is packed");
