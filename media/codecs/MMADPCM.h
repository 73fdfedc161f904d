// 4-bit ADPCM codec routines: the Microsoft ADPCM block decoder with its
// format check and format suggestion, and two families of nibble codecs
// whose running state lives in a record the caller owns and carries from
// one call to the next:
//   family A (tag 3, "Mediavision's ADPCM"): 16-bit wrapping addition;
//   family B (tags 51 and 518, the Antex formats): saturating addition.
// The decoders return the bytes they wrote (0: nothing produced) and never
// read past their input or write past their output.
#pragma once

#include "media/codecs/MMWaveRecords.h"

#include <array>
#include <cstdint>

constexpr uint16_t kWaveFormatMSADPCM = 0x0002;
constexpr uint16_t kWaveFormatIMAADPCM = 0x0011;
constexpr uint16_t kWaveFormatTag3ADPCM = 0x0003;
constexpr uint16_t kWaveFormatAntexADPCME = 0x0033;
constexpr uint16_t kWaveFormatAntexDviOkiADPCME = 0x0206;

// A Microsoft ADPCM format with the seven standard coefficient pairs: the
// wave format record followed by its extension, as laid out in files.
#pragma pack(push, 1)
struct MSADPCMWaveFormat {
    WAVEFORMATEX wfx;
    uint16_t samplesPerBlock;
    uint16_t numCoef;
    int16_t coef[7][2];
};
#pragma pack(pop)
static_assert(sizeof(MSADPCMWaveFormat) == 50, "packed like the file's fmt chunk");

// The standard coefficient pairs and the adaptation table of the format.
extern const int16_t MSADPCMCoefficients[7][2];
extern const int16_t MSADPCMAdaptationTable[16];

// Tag 2, 4 bits, 1 to 4 channels, exactly the seven standard pairs in order.
bool IsMSADPCMFormat(const WAVEFORMATEX* format) noexcept;

// Fills `dest` (room for `destSize` bytes) with the format to convert
// `source` to: for a PCM source (see PCMIsValidFormat) the Microsoft ADPCM
// format (50 bytes), for a Microsoft ADPCM source the PCM format (18 bytes)
// of `bits` (16 when below 1; 8 or 16). `channels` and `rate` below 1 take
// the source's values. False, with `dest` untouched, for any other source,
// too little room, or values the result cannot hold.
bool ADPCMSuggestFormat(const WAVEFORMATEX* source, WAVEFORMATEX* dest, uint32_t destSize, int bits, int channels,
                        int rate) noexcept;

// The most bytes DecodeMSADPCM can produce from `inputBytes` bytes of data
// in `source` format for `dest`: the size its output buffer needs. 0 for
// formats it does not decode.
uint32_t MSADPCMDecodedSize(const WAVEFORMATEX* source, const WAVEFORMATEX* dest, uint32_t inputBytes) noexcept;

// Decodes the blocks of `input` (whole blocks of nBlockAlign bytes; a last
// block cut short yields the frames its bytes hold) to 8- or 16-bit PCM as
// `dest`'s bits per sample say, writing whole frames only and at most
// `outputSize` bytes. Returns the bytes written; 0 for a format it does not
// decode. A damaged block (one naming a coefficient pair the format does not
// have) decodes as silence of the block's length.
uint32_t DecodeMSADPCM(const WAVEFORMATEX* source, const WAVEFORMATEX* dest, const void* input, uint32_t inputBytes,
                       void* output, uint32_t outputSize) noexcept;

// The frames `dataBytes` bytes of Microsoft ADPCM data hold: whole blocks,
// then a last block cut short with the frames its bytes hold (its two
// header frames and one per whole code of every channel; nothing when it is
// shorter than its header). 0 for a format DecodeMSADPCM does not decode or
// whose samples per block disagree with its block size.
uint64_t MSADPCMFrames(const WAVEFORMATEX* format, uint64_t dataBytes) noexcept;

// IMA ADPCM in blocks (tag 0x11, 4 bits): per channel a header of the first
// sample and a step index (4 bytes), then words of 8 codes per channel in
// turn, low nibble first. The block size must hold the header and whole
// words, and a samples-per-block field, when the format has one, must agree
// with it.
bool IsIMAADPCMFormat(const WAVEFORMATEX* format) noexcept;

// The frames `dataBytes` bytes of IMA ADPCM data hold: whole blocks, then a
// last block cut short with the frames its bytes hold (its header sample and
// 8 per whole word of every channel; nothing when it is shorter than its
// header). 0 for a format IsIMAADPCMFormat refuses.
uint64_t IMAADPCMFrames(const WAVEFORMATEX* format, uint64_t dataBytes) noexcept;

// Decodes the blocks of `input` (whole blocks; a last block cut short as
// IMAADPCMFrames counts it) to 16-bit PCM, writing whole frames only and at
// most `outputSize` bytes. Returns the bytes written; 0 for a format it does
// not decode. Each code adds the step shifted right by 3, plus the step, a
// half and a quarter step for its three magnitude bits, with saturation.
uint32_t DecodeIMAADPCM(const WAVEFORMATEX* format, const void* input, uint32_t inputBytes, void* output,
                        uint32_t outputSize) noexcept;

// The running state of a nibble codec, per channel (left, then right; mono
// uses the first): last code, step index, predictor. A fresh state is all 0.
struct NibbleChannelState {
    int16_t code;
    int16_t index;
    int16_t predictor;
};
struct NibbleCodecState {
    NibbleChannelState channel[2];
};
static_assert(sizeof(NibbleCodecState) == 12, "six 16-bit words");

// Differences by step index (0 to 88) and the low three bits of a code.
using NibbleDiffTable = std::array<std::array<uint16_t, 8>, 89>;
extern const NibbleDiffTable DiffTableA;
extern const NibbleDiffTable DiffTableB;

// Nibble decoders: every input byte gives two 16-bit samples, so they write
// inputBytes * 4 bytes (DecodeAntexStereo takes bytes in pairs and drops a
// last odd byte). Byte layouts:
//   DecodeTag3Mono, DecodeAntexMono: high nibble first, then low nibble;
//   DecodeTag3Stereo: low nibble left, high nibble right;
//   DecodeAntexStereo: bytes in swapped pairs (1, 0, 3, 2, ...), each high
//   nibble left, low nibble right.
uint32_t DecodeTag3Mono(NibbleCodecState& state, uint32_t inputBytes, const void* input, void* output) noexcept;
uint32_t DecodeTag3Stereo(NibbleCodecState& state, uint32_t inputBytes, const void* input, void* output) noexcept;
uint32_t DecodeAntexMono(NibbleCodecState& state, uint32_t inputBytes, const void* input, void* output) noexcept;
uint32_t DecodeAntexStereo(NibbleCodecState& state, uint32_t inputBytes, const void* input, void* output) noexcept;

// Nibble encoders, the inverse of the decoders of the same name and byte
// layout: every 4 bytes of 16-bit PCM (two mono samples or one stereo frame)
// give one byte; they return the bytes written. EncodeAntexStereo encodes
// an even number of frames per call. An encoder's state tracks what its
// decoder will compute and is not interchangeable with a decoder's state.
uint32_t EncodeTag3Mono(NibbleCodecState& state, uint32_t inputBytes, const void* input, void* output) noexcept;
uint32_t EncodeTag3Stereo(NibbleCodecState& state, uint32_t inputBytes, const void* input, void* output) noexcept;
uint32_t EncodeAntexMono(NibbleCodecState& state, uint32_t inputBytes, const void* input, void* output) noexcept;
uint32_t EncodeAntexStereo(NibbleCodecState& state, uint32_t inputBytes, const void* input, void* output) noexcept;
