// Wave format records: sizes, copies, unit conversions, names and
// descriptions. What the processing chain, the CD reader and the codecs need
// of a format, without the wave file API (MMWaveIO.h).
#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

static_assert(sizeof(WAVEFORMATEX) == 18, "the system's wave format record is packed");

// ---- formats ----

// 18 for PCM whatever cbSize holds, 18 + cbSize otherwise; 0 for no format.
uint32_t WaveFormatSize(const WAVEFORMATEX* format);

// An owned copy of a format: exactly WaveFormatSize bytes.
class WaveFormatBuffer {
public:
    WaveFormatBuffer() = default;
    const WAVEFORMATEX* get() const { return bytes_.empty() ? nullptr : reinterpret_cast<const WAVEFORMATEX*>(bytes_.data()); }
    WAVEFORMATEX* get() { return bytes_.empty() ? nullptr : reinterpret_cast<WAVEFORMATEX*>(bytes_.data()); }
    const WAVEFORMATEX* operator->() const { return get(); }
    WAVEFORMATEX* operator->() { return get(); }
    uint32_t size() const { return uint32_t(bytes_.size()); }
    explicit operator bool() const { return !bytes_.empty(); }

private:
    friend WaveFormatBuffer WaveCopyFormat(const WAVEFORMATEX* format);
    std::vector<uint8_t> bytes_;
};

// Copies WaveFormatSize bytes; a PCM copy gets cbSize 0. Empty for no format.
WaveFormatBuffer WaveCopyFormat(const WAVEFORMATEX* format);

// The PCM format of that many channels, bits per sample and rate: block
// alignment channels * whole bytes per sample, byte rate rate * alignment
// (cut to 32 bits), cbSize 0.
WAVEFORMATEX WavePCMFormat(uint16_t channels, uint16_t bits, uint32_t rate);

// a * b / c rounded to nearest, halves away from zero: the truncated quotient
// plus (2 * remainder) / c. 0 when c is 0; saturates instead of overflowing.
int64_t MulDivRound(int64_t a, int64_t b, int64_t c);

// Conversions through the format's rates; 0 for no format or a zero divisor.
uint32_t WaveBytesToSamples(const WAVEFORMATEX* format, uint32_t bytes);
int64_t WaveBytesToSamples64(const WAVEFORMATEX* format, int64_t bytes);
// Rounded up to whole blocks (nBlockAlign); saturates at the largest whole block.
uint32_t WaveSamplesToBytes(const WAVEFORMATEX* format, uint32_t samples);
uint32_t WaveSamplesToMs(const WAVEFORMATEX* format, uint32_t samples);
uint32_t WaveMsToSamples(const WAVEFORMATEX* format, uint32_t ms);
int64_t WaveSamplesToBytes64(const WAVEFORMATEX* format, int64_t samples);
int64_t WaveSamplesToMs64(const WAVEFORMATEX* format, int64_t samples);

// ---- format texts ----

struct FormatTagName {
    uint16_t tag;
    const char* name;
};
// Searched from the top; the first row with the tag gives its name.
extern const std::array<FormatTagName, 38> FormatTagNameTable;

// The tag's name, "Unknown" for a tag not in the table or no format.
std::string WaveFormatTagName(const WAVEFORMATEX* format);
// For example "44.100 kHz, 16 Bit, Stereo", with the separators of the user's
// "Intl" profile (refreshed on every call). The bit count comes from the byte
// rate. "Unknown" for no format, or one with 0 channels or a sample rate of 0.
std::string WaveFormatDescription(const WAVEFORMATEX* format);
// Name and description from the Audio Compression Manager when it is bound
// (version 2.00 or later), each falling back to the two functions above;
// false only for no format.
bool WaveFormatTexts(const WAVEFORMATEX* format, std::string& name, std::string& description);

// The separators the last description used (initially ',' and '.').
char WaveListSeparator();
char WaveDecimalSeparator();
