// Microsoft ADPCM: each block starts with a header per channel (predictor
// index, delta, the two latest samples) that gives two frames at once; every
// further sample is a 4-bit code applied to a prediction from the two
// latest samples with the channel's coefficient pair, the step (delta)
// adapting by a table. The decoder checks every size against the bytes it
// was given: a header that lies about the block size, the samples per block
// or the coefficients never takes it past its input or its output.
//
// The nibble codecs are the IMA design: a step index (0 to 88) moved by the
// code, and a difference looked up by index and code magnitude. Family A
// adds with 16-bit wrap-around, family B saturates.
#include "media/codecs/MMADPCM.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

#include "media/codecs/MMPCMSup.h"

const int16_t MSADPCMCoefficients[7][2] = {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};
const int16_t MSADPCMAdaptationTable[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                                            768, 614, 512, 409, 307, 230, 230, 230};

namespace {

constexpr uint32_t kFormatHeaderSize = 18;         // the wave format record before its extension
constexpr uint32_t kMSADPCMExtensionFixed = 4;     // samples per block, number of pairs
constexpr uint32_t kMSADPCMStandardExtra = 4 + 7 * 4;
constexpr unsigned kMaxMSADPCMChannels = 4;
constexpr uint32_t kHeaderBytesPerChannel = 7;     // predictor index, delta, sample 1, sample 2
// The delta grows by up to 768/256 per code on hostile data; capped so that
// the adaptation product (and code times delta) stays within 32 bits.
constexpr int32_t kMaxDelta = INT32_MAX / 768;
constexpr int32_t kMinDelta = 16;

uint16_t LoadU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
int16_t LoadI16(const uint8_t* p) { return int16_t(LoadU16(p)); }
void StoreI16(uint8_t* p, int32_t v) {
    const auto word = int16_t(v);
    std::memcpy(p, &word, 2);  // the target is little-endian
}

const uint8_t* Extension(const WAVEFORMATEX* format) {
    return reinterpret_cast<const uint8_t*>(format) + kFormatHeaderSize;
}

// ---- Microsoft ADPCM ----

struct MsLayout {
    unsigned channels;
    uint32_t blockAlign;
    uint32_t samplesPerBlock;
    uint32_t numCoef;
    const uint8_t* coefficients;  // numCoef pairs of signed 16-bit words
    uint32_t sampleBytes;         // 1 or 2 in the output
};

bool ReadLayout(const WAVEFORMATEX* source, const WAVEFORMATEX* dest, MsLayout& layout) {
    if (!source || !dest || source->wFormatTag != kWaveFormatMSADPCM) return false;
    const unsigned channels = source->nChannels;
    if (channels < 1 || channels > kMaxMSADPCMChannels || dest->nChannels != channels) return false;
    if (dest->wBitsPerSample != 8 && dest->wBitsPerSample != 16) return false;
    if (source->cbSize < kMSADPCMExtensionFixed) return false;
    const uint8_t* extension = Extension(source);
    const uint32_t numCoef = LoadU16(extension + 2);
    if (numCoef < 1 || source->cbSize < kMSADPCMExtensionFixed + 4 * numCoef) return false;
    if (source->nBlockAlign < kHeaderBytesPerChannel * channels) return false;
    layout = MsLayout{channels,           source->nBlockAlign, LoadU16(extension), numCoef,
                      extension + 4,      dest->wBitsPerSample / 8u};
    return true;
}

// Frames a block of `bytes` bytes yields: the two header frames, then as
// many frames as its whole codes hold, up to samples per block.
uint32_t FramesInBlock(const MsLayout& layout, uint32_t bytes) {
    const uint32_t codeFrames = (bytes - kHeaderBytesPerChannel * layout.channels) * 2 / layout.channels;
    return std::max<uint32_t>(2, std::min<uint32_t>(layout.samplesPerBlock, 2 + codeFrames));
}

struct MsChannel {
    int32_t c1, c2, delta, s1, s2;
};

// One code. Clipping and a delta outside its range are rare on real sound
// (and steady in silence), so both limits are branches the processor
// predicts away rather than selects on every sample's dependency chain.
inline int32_t MsStep(MsChannel& ch, unsigned code) {
    const int32_t predicted = (ch.s1 * ch.c1 + ch.s2 * ch.c2) >> 8;
    int32_t sample = predicted + (int32_t(code ^ 8) - 8) * ch.delta;
    if (uint32_t(sample + 32768) > 65535u) [[unlikely]]
        sample = sample < 0 ? -32768 : 32767;
    int32_t delta = (MSADPCMAdaptationTable[code] * ch.delta) >> 8;
    if (uint32_t(delta - kMinDelta) > uint32_t(kMaxDelta - kMinDelta)) [[unlikely]]
        delta = delta < kMinDelta ? kMinDelta : kMaxDelta;
    ch.delta = delta;
    ch.s2 = ch.s1;
    ch.s1 = sample;
    return sample;
}

template <uint32_t SampleBytes>
inline void Put(uint8_t*& out, int32_t sample) {
    if constexpr (SampleBytes == 2) {
        StoreI16(out, sample);
        out += 2;
    } else {
        *out++ = uint8_t(sample / 256 + 128);
    }
}

// A left and a right sample in one store.
template <uint32_t SampleBytes>
inline void PutPair(uint8_t*& out, int32_t left, int32_t right) {
    if constexpr (SampleBytes == 2) {
        const uint32_t pair = uint32_t(uint16_t(left)) | uint32_t(uint16_t(right)) << 16;
        std::memcpy(out, &pair, 4);  // the target is little-endian
        out += 4;
    } else {
        const auto pair = uint16_t(uint8_t(left / 256 + 128) | uint8_t(right / 256 + 128) << 8);
        std::memcpy(out, &pair, 2);
        out += 2;
    }
}

// The code frames of one block; `Channels` 0 stands for any count.
template <uint32_t SampleBytes, unsigned Channels>
void DecodeCodes(const uint8_t* codes, uint32_t frames, unsigned channels, MsChannel* ch, uint8_t*& out) {
    if constexpr (Channels == 1) {
        MsChannel c = ch[0];
        uint32_t k = 0;
        for (; k + 2 <= frames; k += 2) {
            const unsigned byte = codes[k / 2];
            const int32_t first = MsStep(c, byte >> 4);
            const int32_t second = MsStep(c, byte & 15);
            PutPair<SampleBytes>(out, first, second);
        }
        if (k < frames) Put<SampleBytes>(out, MsStep(c, codes[k / 2] >> 4));
        ch[0] = c;
    } else if constexpr (Channels == 2) {
        MsChannel left = ch[0], right = ch[1];
        for (uint32_t k = 0; k < frames; ++k) {
            const unsigned byte = codes[k];
            const int32_t l = MsStep(left, byte >> 4);
            const int32_t r = MsStep(right, byte & 15);
            PutPair<SampleBytes>(out, l, r);
        }
        ch[0] = left;
        ch[1] = right;
    } else {
        uint32_t nibble = 0;
        for (uint32_t k = 0; k < frames; ++k) {
            for (unsigned c = 0; c < channels; ++c, ++nibble) {
                const unsigned byte = codes[nibble / 2];
                Put<SampleBytes>(out, MsStep(ch[c], (nibble & 1) ? (byte & 15) : (byte >> 4)));
            }
        }
    }
}

template <uint32_t SampleBytes, unsigned Channels>
uint32_t DecodeBlocks(const MsLayout& layout, const uint8_t* in, uint32_t left, uint8_t* output, uint32_t room) {
    const unsigned channels = Channels ? Channels : layout.channels;
    const uint32_t headerBytes = kHeaderBytesPerChannel * channels;
    const uint32_t frameBytes = SampleBytes * channels;
    uint8_t* out = output;
    MsChannel ch[kMaxMSADPCMChannels];
    while (left >= headerBytes) {
        const uint32_t blockBytes = std::min(layout.blockAlign, left);
        bool damaged = false;
        for (unsigned c = 0; c < channels; ++c) damaged = damaged || in[c] >= layout.numCoef;
        if (damaged) {
            // A block naming a pair the format does not have cannot be
            // decoded: it becomes silence of its length, and the blocks
            // after it decode as usual.
            uint32_t frames = FramesInBlock(layout, blockBytes);
            const bool outputFull = frames > room / frameBytes;
            if (outputFull) frames = room / frameBytes;
            for (uint32_t n = frames * channels; n > 0; --n) Put<SampleBytes>(out, 0);
            room -= frames * frameBytes;
            if (outputFull) break;
            in += blockBytes;
            left -= blockBytes;
            continue;
        }
        for (unsigned c = 0; c < channels; ++c) {
            const uint32_t pair = in[c];
            // -32768 is taken as -32767: with both coefficients and both
            // samples at -32768 the prediction would leave 32 bits.
            ch[c].c1 = std::max<int32_t>(LoadI16(layout.coefficients + 4 * pair), -32767);
            ch[c].c2 = std::max<int32_t>(LoadI16(layout.coefficients + 4 * pair + 2), -32767);
            ch[c].delta = LoadI16(in + channels + 2 * c);
            ch[c].s1 = LoadI16(in + 3 * channels + 2 * c);
            ch[c].s2 = LoadI16(in + 5 * channels + 2 * c);
        }
        uint32_t frames = FramesInBlock(layout, blockBytes);
        const bool outputFull = frames > room / frameBytes;
        if (outputFull) frames = room / frameBytes;
        if (frames >= 1)
            for (unsigned c = 0; c < channels; ++c) Put<SampleBytes>(out, ch[c].s2);
        if (frames >= 2)
            for (unsigned c = 0; c < channels; ++c) Put<SampleBytes>(out, ch[c].s1);
        if (frames > 2) DecodeCodes<SampleBytes, Channels>(in + headerBytes, frames - 2, channels, ch, out);
        room -= frames * frameBytes;
        if (outputFull) break;
        in += blockBytes;
        left -= blockBytes;
    }
    return uint32_t(out - output);
}

// ---- nibble codecs ----

constexpr std::array<uint16_t, 89> kImaStepTable = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

// Family A's encoder steps: the IMA steps but for four entries.
constexpr std::array<uint16_t, 89> MakeFamilyASteps() {
    std::array<uint16_t, 89> steps = kImaStepTable;
    steps[3] = 9;
    steps[4] = 10;
    steps[8] = 15;
    steps[86] = 27085;
    return steps;
}
constexpr std::array<uint16_t, 89> kFamilyAStepTable = MakeFamilyASteps();

constexpr int8_t kIndexAdjust[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};
constexpr int32_t kMaxStepIndex = 88;

using DiffTable = NibbleDiffTable;

// step * (2c + 1) / 8, truncated and kept within 16 bits signed.
constexpr DiffTable MakeDiffTableB() {
    DiffTable table{};
    for (size_t i = 0; i < 89; ++i)
        for (size_t c = 0; c < 8; ++c)
            table[i][c] = uint16_t(std::min<uint32_t>(kImaStepTable[i] * (2 * c + 1) / 8, 32767));
    return table;
}

// step * (2c + 1) / 8 to the nearest, except the rows that this format's
// existing data was made with, which are kept as they are (they round
// neither way throughout and exceed 32767 at the top).
constexpr DiffTable MakeDiffTableA() {
    DiffTable table{};
    for (size_t i = 0; i < 89; ++i)
        for (size_t c = 0; c < 8; ++c) table[i][c] = uint16_t((kImaStepTable[i] * (2 * c + 1) + 4) / 8);
    table[0] = {0, 2, 4, 6, 8, 10, 12, 13};
    table[1] = {1, 3, 5, 7, 9, 11, 13, 15};
    table[2] = {1, 3, 5, 7, 10, 12, 14, 16};
    table[20] = {6, 18, 31, 43, 56, 69, 81, 94};
    table[60] = {284, 852, 1420, 1988, 2556, 3124, 3693, 4261};
    table[88] = {4096, 12288, 20479, 28671, 36863, 45055, 53246, 61438};
    return table;
}

}  // namespace

extern const NibbleDiffTable DiffTableA = MakeDiffTableA();
extern const NibbleDiffTable DiffTableB = MakeDiffTableB();

namespace {

struct FamilyA {
    static constexpr const DiffTable& Diff = DiffTableA;
    static constexpr const std::array<uint16_t, 89>& EncoderStep = kFamilyAStepTable;
    static int32_t Add(int32_t predictor, int32_t d) { return int16_t(uint16_t(uint32_t(predictor + d))); }
};
struct FamilyB {
    static constexpr const DiffTable& Diff = DiffTableB;
    static constexpr const std::array<uint16_t, 89>& EncoderStep = kImaStepTable;
    static int32_t Add(int32_t predictor, int32_t d) { return std::clamp(predictor + d, -32768, 32767); }
};

// One channel's state in working form; the index is brought into range on
// loading, so a damaged state record cannot index past the tables.
struct Nibble {
    int32_t code, index, predictor;

    explicit Nibble(const NibbleChannelState& s)
        : code(s.code & 15), index(std::clamp<int32_t>(s.index, 0, kMaxStepIndex)), predictor(s.predictor) {}
    void StoreTo(NibbleChannelState& s) const {
        s.code = int16_t(code);
        s.index = int16_t(index);
        s.predictor = int16_t(predictor);
    }

    template <class Family>
    int32_t Decode(unsigned nibble) {
        code = int32_t(nibble);
        const int32_t d = Family::Diff[size_t(index)][nibble & 7];
        predictor = Family::Add(predictor, (nibble & 8) ? -d : d);
        index = std::clamp(index + kIndexAdjust[nibble], 0, kMaxStepIndex);
        return predictor;
    }

    // Catches up with the previous code, then picks the code for `sample`.
    template <class Family>
    unsigned Encode(int32_t sample) {
        Decode<Family>(unsigned(code));
        const auto difference = int16_t(uint16_t(uint32_t(sample - predictor)));
        unsigned next = difference < 0 ? 8 : 0;
        auto magnitude = uint16_t(difference < 0 ? -int32_t(difference) : difference);
        uint16_t step = Family::EncoderStep[size_t(index)];
        if (magnitude >= step) {
            next |= 4;
            magnitude = uint16_t(magnitude - step);
        }
        step >>= 1;
        if (magnitude >= step) {
            next |= 2;
            magnitude = uint16_t(magnitude - step);
        }
        step >>= 1;
        if (magnitude >= step) next |= 1;
        code = int32_t(next);
        return next;
    }
};

template <class Family>
uint32_t DecodeMono(NibbleCodecState& state, uint32_t bytes, const uint8_t* in, uint8_t* out) {
    Nibble ch(state.channel[0]);
    for (uint32_t i = 0; i < bytes; ++i, out += 4) {
        StoreI16(out, ch.Decode<Family>(in[i] >> 4));
        StoreI16(out + 2, ch.Decode<Family>(in[i] & 15));
    }
    ch.StoreTo(state.channel[0]);
    return bytes * 4;
}

template <class Family>
void DecodeFrame(Nibble& left, Nibble& right, unsigned leftCode, unsigned rightCode, uint8_t* out) {
    StoreI16(out, left.Decode<Family>(leftCode));
    StoreI16(out + 2, right.Decode<Family>(rightCode));
}

template <class Family>
uint32_t EncodeMono(NibbleCodecState& state, uint32_t bytes, const uint8_t* in, uint8_t* out) {
    Nibble ch(state.channel[0]);
    const uint32_t outBytes = bytes / 4;
    for (uint32_t i = 0; i < outBytes; ++i, in += 4) {
        const unsigned high = ch.Encode<Family>(LoadI16(in));
        const unsigned low = ch.Encode<Family>(LoadI16(in + 2));
        out[i] = uint8_t(high << 4 | low);
    }
    ch.StoreTo(state.channel[0]);
    return outBytes;
}

}  // namespace

// ---- Microsoft ADPCM: format check, suggestion, decoding ----

bool IsMSADPCMFormat(const WAVEFORMATEX* format) noexcept {
    if (!format || format->wFormatTag != kWaveFormatMSADPCM || format->wBitsPerSample != 4) return false;
    if (format->nChannels < 1 || format->nChannels > kMaxMSADPCMChannels) return false;
    if (format->cbSize < kMSADPCMStandardExtra) return false;
    const uint8_t* extension = Extension(format);
    if (LoadU16(extension + 2) != 7) return false;
    for (int i = 0; i < 7; ++i) {
        if (LoadI16(extension + 4 + 4 * i) != MSADPCMCoefficients[i][0] ||
            LoadI16(extension + 6 + 4 * i) != MSADPCMCoefficients[i][1])
            return false;
    }
    return true;
}

bool ADPCMSuggestFormat(const WAVEFORMATEX* source, WAVEFORMATEX* dest, uint32_t destSize, int bits, int channels,
                        int rate) noexcept {
    if (!source || !dest) return false;
    const uint32_t c = channels < 1 ? source->nChannels : uint32_t(channels);
    const uint32_t r = rate < 1 ? source->nSamplesPerSec : uint32_t(rate);

    if (PCMIsValidFormat(source)) {
        if (c > kMaxMSADPCMChannels || destSize < sizeof(MSADPCMWaveFormat)) return false;
        // 256 bytes per channel at 11 kHz, a multiple of it at higher rates.
        uint64_t blockAlign = 256 * c;
        if (r > 11025) blockAlign *= r / 11000;
        if (blockAlign > 0xFFFF) return false;
        const uint64_t samplesPerBlock = (blockAlign - 7 * c) * 8 / (4 * c) + 2;
        if (samplesPerBlock > 0xFFFF) return false;
        const uint64_t codeBytesPerSecond = uint64_t(4) * c * r / 8;
        const uint64_t average = codeBytesPerSecond + 7 * c * (codeBytesPerSecond / blockAlign + 1);
        if (average > 0xFFFFFFFFu) return false;

        MSADPCMWaveFormat format{};
        format.wfx.wFormatTag = kWaveFormatMSADPCM;
        format.wfx.nChannels = uint16_t(c);
        format.wfx.nSamplesPerSec = r;
        format.wfx.nAvgBytesPerSec = uint32_t(average);
        format.wfx.nBlockAlign = uint16_t(blockAlign);
        format.wfx.wBitsPerSample = 4;
        format.wfx.cbSize = kMSADPCMStandardExtra;
        format.samplesPerBlock = uint16_t(samplesPerBlock);
        format.numCoef = 7;
        std::memcpy(format.coef, MSADPCMCoefficients, sizeof format.coef);
        std::memcpy(dest, &format, sizeof format);
        return true;
    }

    if (IsMSADPCMFormat(source)) {
        const uint32_t b = bits < 1 ? 16 : uint32_t(bits);
        if ((b != 8 && b != 16) || c > 0xFFFF || destSize < sizeof(WAVEFORMATEX)) return false;
        const uint32_t blockAlign = b / 8 * c;
        const uint64_t average = uint64_t(blockAlign) * r;
        if (blockAlign > 0xFFFF || average > 0xFFFFFFFFu) return false;
        WAVEFORMATEX format{};
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.nChannels = uint16_t(c);
        format.nSamplesPerSec = r;
        format.nAvgBytesPerSec = uint32_t(average);
        format.nBlockAlign = uint16_t(blockAlign);
        format.wBitsPerSample = uint16_t(b);
        format.cbSize = 0;
        std::memcpy(dest, &format, sizeof format);
        return true;
    }
    return false;
}

uint32_t MSADPCMDecodedSize(const WAVEFORMATEX* source, const WAVEFORMATEX* dest, uint32_t inputBytes) noexcept {
    MsLayout layout;
    if (!ReadLayout(source, dest, layout)) return 0;
    const uint32_t headerBytes = kHeaderBytesPerChannel * layout.channels;
    uint64_t frames = uint64_t(inputBytes / layout.blockAlign) * FramesInBlock(layout, layout.blockAlign);
    const uint32_t rest = inputBytes % layout.blockAlign;
    if (rest >= headerBytes) frames += FramesInBlock(layout, rest);
    const uint32_t frameBytes = layout.channels * layout.sampleBytes;
    return uint32_t(std::min<uint64_t>(frames, 0xFFFFFFFFu / frameBytes)) * frameBytes;
}

uint64_t MSADPCMFrames(const WAVEFORMATEX* format, uint64_t dataBytes) noexcept {
    if (!format || format->wBitsPerSample != 4) return 0;
    WAVEFORMATEX pcm{};
    pcm.nChannels = format->nChannels;
    pcm.wBitsPerSample = 16;
    MsLayout layout;
    if (!ReadLayout(format, &pcm, layout)) return 0;
    const uint32_t headerBytes = kHeaderBytesPerChannel * layout.channels;
    if (layout.samplesPerBlock != 2 + (layout.blockAlign - headerBytes) * 2 / layout.channels) return 0;
    const uint32_t rest = uint32_t(dataBytes % layout.blockAlign);
    return dataBytes / layout.blockAlign * layout.samplesPerBlock +
           (rest >= headerBytes ? FramesInBlock(layout, rest) : 0);
}

uint32_t DecodeMSADPCM(const WAVEFORMATEX* source, const WAVEFORMATEX* dest, const void* input, uint32_t inputBytes,
                       void* output, uint32_t outputSize) noexcept {
    MsLayout layout;
    if (!input || !output || !ReadLayout(source, dest, layout)) return 0;
    const auto* in = static_cast<const uint8_t*>(input);
    auto* out = static_cast<uint8_t*>(output);
    const bool wide = layout.sampleBytes == 2;
    switch (layout.channels) {
    case 1:
        return wide ? DecodeBlocks<2, 1>(layout, in, inputBytes, out, outputSize)
                    : DecodeBlocks<1, 1>(layout, in, inputBytes, out, outputSize);
    case 2:
        return wide ? DecodeBlocks<2, 2>(layout, in, inputBytes, out, outputSize)
                    : DecodeBlocks<1, 2>(layout, in, inputBytes, out, outputSize);
    default:
        return wide ? DecodeBlocks<2, 0>(layout, in, inputBytes, out, outputSize)
                    : DecodeBlocks<1, 0>(layout, in, inputBytes, out, outputSize);
    }
}

// ---- nibble decoders ----

uint32_t DecodeTag3Mono(NibbleCodecState& state, uint32_t inputBytes, const void* input, void* output) noexcept {
    return DecodeMono<FamilyA>(state, inputBytes, static_cast<const uint8_t*>(input), static_cast<uint8_t*>(output));
}

uint32_t DecodeAntexMono(NibbleCodecState& state, uint32_t inputBytes, const void* input, void* output) noexcept {
    return DecodeMono<FamilyB>(state, inputBytes, static_cast<const uint8_t*>(input), static_cast<uint8_t*>(output));
}

uint32_t DecodeTag3Stereo(NibbleCodecState& state, uint32_t inputBytes, const void* input, void* output) noexcept {
    const auto* in = static_cast<const uint8_t*>(input);
    auto* out = static_cast<uint8_t*>(output);
    Nibble left(state.channel[0]), right(state.channel[1]);
    for (uint32_t i = 0; i < inputBytes; ++i) DecodeFrame<FamilyA>(left, right, in[i] & 15, in[i] >> 4, out + 4 * i);
    left.StoreTo(state.channel[0]);
    right.StoreTo(state.channel[1]);
    return inputBytes * 4;
}

uint32_t DecodeAntexStereo(NibbleCodecState& state, uint32_t inputBytes, const void* input, void* output) noexcept {
    const auto* in = static_cast<const uint8_t*>(input);
    auto* out = static_cast<uint8_t*>(output);
    // Bytes come in swapped pairs; a lone last byte has no partner to
    // follow and is left undecoded.
    const uint32_t bytes = inputBytes & ~1u;
    Nibble left(state.channel[0]), right(state.channel[1]);
    for (uint32_t i = 0; i < bytes; i += 2, out += 8) {
        DecodeFrame<FamilyB>(left, right, in[i + 1] >> 4, in[i + 1] & 15, out);
        DecodeFrame<FamilyB>(left, right, in[i] >> 4, in[i] & 15, out + 4);
    }
    left.StoreTo(state.channel[0]);
    right.StoreTo(state.channel[1]);
    return bytes * 4;
}

// ---- nibble encoders ----

uint32_t EncodeTag3Mono(NibbleCodecState& state, uint32_t inputBytes, const void* input, void* output) noexcept {
    return EncodeMono<FamilyA>(state, inputBytes, static_cast<const uint8_t*>(input), static_cast<uint8_t*>(output));
}

uint32_t EncodeAntexMono(NibbleCodecState& state, uint32_t inputBytes, const void* input, void* output) noexcept {
    return EncodeMono<FamilyB>(state, inputBytes, static_cast<const uint8_t*>(input), static_cast<uint8_t*>(output));
}

uint32_t EncodeTag3Stereo(NibbleCodecState& state, uint32_t inputBytes, const void* input, void* output) noexcept {
    const auto* in = static_cast<const uint8_t*>(input);
    auto* out = static_cast<uint8_t*>(output);
    Nibble left(state.channel[0]), right(state.channel[1]);
    const uint32_t frames = inputBytes / 4;
    // Left in the low nibble, as DecodeTag3Stereo reads it.
    for (uint32_t i = 0; i < frames; ++i, in += 4) {
        const unsigned l = left.Encode<FamilyA>(LoadI16(in));
        const unsigned r = right.Encode<FamilyA>(LoadI16(in + 2));
        out[i] = uint8_t(r << 4 | l);
    }
    left.StoreTo(state.channel[0]);
    right.StoreTo(state.channel[1]);
    return frames;
}

uint32_t EncodeAntexStereo(NibbleCodecState& state, uint32_t inputBytes, const void* input, void* output) noexcept {
    const auto* in = static_cast<const uint8_t*>(input);
    auto* out = static_cast<uint8_t*>(output);
    Nibble left(state.channel[0]), right(state.channel[1]);
    const uint32_t frames = (inputBytes / 4) & ~1u;
    for (uint32_t i = 0; i < frames; i += 2, in += 8) {
        for (uint32_t k = 0; k < 2; ++k) {
            const unsigned l = left.Encode<FamilyB>(LoadI16(in + 4 * k));
            const unsigned r = right.Encode<FamilyB>(LoadI16(in + 4 * k + 2));
            out[i + 1 - k] = uint8_t(l << 4 | r);  // swapped pairs, as DecodeAntexStereo reads them
        }
    }
    left.StoreTo(state.channel[0]);
    right.StoreTo(state.channel[1]);
    return frames;
}

// ---- IMA ADPCM blocks ----

namespace {

constexpr uint32_t kImaHeaderBytesPerChannel = 4;  // first sample, step index, a reserved byte
constexpr uint32_t kImaWordBytes = 4;               // 8 codes of one channel
constexpr uint32_t kImaFramesPerWord = 8;

struct ImaLayout {
    unsigned channels;
    uint32_t blockAlign;
};

bool ReadImaLayout(const WAVEFORMATEX* format, ImaLayout& layout) {
    if (!format || format->wFormatTag != kWaveFormatIMAADPCM || format->wBitsPerSample != 4 ||
        format->nChannels == 0)
        return false;
    const uint32_t header = kImaHeaderBytesPerChannel * format->nChannels;
    const uint32_t word = kImaWordBytes * format->nChannels;
    if (format->nBlockAlign < header || (format->nBlockAlign - header) % word != 0) return false;
    if (format->cbSize >= 2) {
        const uint32_t declared = LoadU16(Extension(format));
        if (declared != (format->nBlockAlign - header) / word * kImaFramesPerWord + 1) return false;
    }
    layout.channels = format->nChannels;
    layout.blockAlign = format->nBlockAlign;
    return true;
}

// The frames a block of `bytes` bytes (at most one whole block) holds.
uint32_t ImaFramesInBlock(const ImaLayout& layout, uint32_t bytes) {
    const uint32_t header = kImaHeaderBytesPerChannel * layout.channels;
    if (bytes < header) return 0;
    return 1 + (bytes - header) / (kImaWordBytes * layout.channels) * kImaFramesPerWord;
}

inline int32_t ImaStep(int32_t& predictor, int32_t& index, unsigned code) {
    const int32_t step = kImaStepTable[size_t(index)];
    int32_t difference = step >> 3;
    if (code & 4) difference += step;
    if (code & 2) difference += step >> 1;
    if (code & 1) difference += step >> 2;
    predictor = std::clamp(predictor + ((code & 8) ? -difference : difference), -32768, 32767);
    index = std::clamp(index + kIndexAdjust[code], 0, kMaxStepIndex);
    return predictor;
}

}  // namespace

bool IsIMAADPCMFormat(const WAVEFORMATEX* format) noexcept {
    ImaLayout layout;
    return ReadImaLayout(format, layout);
}

uint64_t IMAADPCMFrames(const WAVEFORMATEX* format, uint64_t dataBytes) noexcept {
    ImaLayout layout;
    if (!ReadImaLayout(format, layout)) return 0;
    return dataBytes / layout.blockAlign * ImaFramesInBlock(layout, layout.blockAlign) +
           ImaFramesInBlock(layout, uint32_t(dataBytes % layout.blockAlign));
}

uint32_t DecodeIMAADPCM(const WAVEFORMATEX* format, const void* input, uint32_t inputBytes, void* output,
                        uint32_t outputSize) noexcept {
    ImaLayout layout;
    if (!input || !output || !ReadImaLayout(format, layout)) return 0;
    const unsigned channels = layout.channels;
    const uint32_t frameBytes = 2 * channels;
    const uint32_t header = kImaHeaderBytesPerChannel * channels;
    const auto* in = static_cast<const uint8_t*>(input);
    auto* out = static_cast<uint8_t*>(output);
    uint32_t left = inputBytes, room = outputSize / frameBytes;
    while (left >= header && room > 0) {
        const uint32_t blockBytes = std::min(layout.blockAlign, left);
        const uint32_t frames = std::min(ImaFramesInBlock(layout, blockBytes), room);
        for (unsigned c = 0; c < channels; ++c) {
            int32_t predictor = LoadI16(in + kImaHeaderBytesPerChannel * c);
            // A damaged index is taken at its nearest valid value.
            int32_t index = std::min<int32_t>(in[kImaHeaderBytesPerChannel * c + 2], kMaxStepIndex);
            uint8_t* sample = out + 2 * c;
            StoreI16(sample, predictor);
            const uint8_t* words = in + header + kImaWordBytes * c;
            for (uint32_t f = 1; f < frames; ++f) {
                const uint32_t k = f - 1;  // code number within the channel's codes
                const uint8_t byte = words[k / kImaFramesPerWord * kImaWordBytes * channels + k % kImaFramesPerWord / 2];
                sample += frameBytes;
                StoreI16(sample, ImaStep(predictor, index, (k & 1) ? byte >> 4 : byte & 15));
            }
        }
        out += frames * frameBytes;
        room -= frames;
        in += blockBytes;
        left -= blockBytes;
    }
    return uint32_t(out - static_cast<uint8_t*>(output));
}
