// Peak finding is the hot path here: the wave preview scans whole files
// with it. It runs in two passes over each block: the lowest and highest
// value per channel first (with SSE2 minimum and maximum when the processor
// has them), then, per channel, the first frame holding either of them,
// which decides the order of the pair. The second pass reads a block the
// first has just brought into the cache and usually stops early.
#include "media/MMPCMSup.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>

namespace {

uint16_t LoadU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
int16_t LoadI16(const uint8_t* p) { return int16_t(LoadU16(p)); }
void StoreI16(uint8_t* p, int32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(uint32_t(v) >> 8);
}

// The starting extremes: a value must beat them strictly to count.
constexpr int32_t kLow8 = 127, kHigh8 = -127;
constexpr int32_t kLow16 = 32767, kHigh16 = -32767;

struct Extremes {
    int32_t low, high;
    uint32_t lowFrame = 0, highFrame = 0;
};

// The pair in the order of time: the highest first when it came first.
void Report(const Extremes& e, int32_t offset, int16_t& first, int16_t& second) {
    if (e.highFrame < e.lowFrame) {
        first = int16_t(e.high + offset);
        second = int16_t(e.low + offset);
    } else {
        first = int16_t(e.low + offset);
        second = int16_t(e.high + offset);
    }
}

// Single-pass scan of `frames` frames; sample k of a frame is at
// data + frame * stride + k * width.
template <bool Wide>
void ScanScalar(const uint8_t* data, uint32_t frames, uint32_t stride, int channels, Extremes* out) {
    for (int c = 0; c < channels; ++c) {
        Extremes e{Wide ? kLow16 : kLow8, Wide ? kHigh16 : kHigh8};
        const uint8_t* p = data + c * (Wide ? 2 : 1);
        for (uint32_t f = 0; f < frames; ++f, p += stride) {
            const int32_t v = Wide ? int32_t(LoadI16(p)) : int32_t(*p) - 128;
            if (v < e.low) {
                e.low = v;
                e.lowFrame = f;
            }
            if (v > e.high) {
                e.high = v;
                e.highFrame = f;
            }
        }
        out[c] = e;
    }
}

bool HasSse2() {
#if defined(_WIN32)
    static const bool present = ::IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE) != 0;
#else
    static const bool present = __builtin_cpu_supports("sse2");
#endif
    return present;
}

// 16-bit data, mono (channels 1) or stereo (channels 2). The stack is
// realigned on entry: 32-bit callers only promise 4-byte alignment.
__attribute__((target("sse2"), force_align_arg_pointer)) void Scan16Sse2(const uint8_t* data, uint32_t frames,
                                                                            int channels, Extremes* out) {
    const uint32_t samples = frames * uint32_t(channels);
    const uint32_t vectors = samples / 8;
    __m128i lo = _mm_set1_epi16(int16_t(kLow16));
    __m128i hi = _mm_set1_epi16(int16_t(kHigh16));
    {
        const __m128i* v = reinterpret_cast<const __m128i*>(data);
        uint32_t i = 0;
        // Two accumulators each, so that successive loads do not wait on one another.
        __m128i lo2 = lo, hi2 = hi;
        for (; i + 2 <= vectors; i += 2) {
            const __m128i a = _mm_loadu_si128(v + i);
            const __m128i b = _mm_loadu_si128(v + i + 1);
            lo = _mm_min_epi16(lo, a);
            hi = _mm_max_epi16(hi, a);
            lo2 = _mm_min_epi16(lo2, b);
            hi2 = _mm_max_epi16(hi2, b);
        }
        if (i < vectors) {
            const __m128i a = _mm_loadu_si128(v + i);
            lo = _mm_min_epi16(lo, a);
            hi = _mm_max_epi16(hi, a);
        }
        lo = _mm_min_epi16(lo, lo2);
        hi = _mm_max_epi16(hi, hi2);
    }
    // Fold the lanes: stereo keeps even (left) and odd (right) lanes apart.
    lo = _mm_min_epi16(lo, _mm_shuffle_epi32(lo, _MM_SHUFFLE(1, 0, 3, 2)));
    hi = _mm_max_epi16(hi, _mm_shuffle_epi32(hi, _MM_SHUFFLE(1, 0, 3, 2)));
    lo = _mm_min_epi16(lo, _mm_shuffle_epi32(lo, _MM_SHUFFLE(2, 3, 0, 1)));
    hi = _mm_max_epi16(hi, _mm_shuffle_epi32(hi, _MM_SHUFFLE(2, 3, 0, 1)));
    if (channels == 1) {
        lo = _mm_min_epi16(lo, _mm_shufflelo_epi16(lo, _MM_SHUFFLE(2, 3, 0, 1)));
        hi = _mm_max_epi16(hi, _mm_shufflelo_epi16(hi, _MM_SHUFFLE(2, 3, 0, 1)));
    }
    int32_t low[2] = {int16_t(_mm_extract_epi16(lo, 0)), int16_t(_mm_extract_epi16(lo, 1))};
    int32_t high[2] = {int16_t(_mm_extract_epi16(hi, 0)), int16_t(_mm_extract_epi16(hi, 1))};
    for (uint32_t s = vectors * 8; s < samples; ++s) {
        const int c = int(s % uint32_t(channels));
        const int32_t v = LoadI16(data + 2 * s);
        low[c] = std::min(low[c], v);
        high[c] = std::max(high[c], v);
    }

    // The first frame of each extreme; an extreme still at its starting
    // value was never replaced and keeps frame 0.
    uint32_t lowFrame[2] = {0, 0}, highFrame[2] = {0, 0};
    unsigned pending = 0;  // bit 2c: low of channel c still sought; bit 2c+1: high
    for (int c = 0; c < channels; ++c) {
        if (low[c] != kLow16) pending |= 1u << (2 * c);
        if (high[c] != kHigh16) pending |= 2u << (2 * c);
    }
    const __m128i lows = channels == 1 ? _mm_set1_epi16(int16_t(low[0]))
                                       : _mm_set1_epi32(int32_t(uint16_t(low[0]) | (uint32_t(uint16_t(low[1])) << 16)));
    const __m128i highs = channels == 1
                              ? _mm_set1_epi16(int16_t(high[0]))
                              : _mm_set1_epi32(int32_t(uint16_t(high[0]) | (uint32_t(uint16_t(high[1])) << 16)));
    // Byte masks of a movemask result: which lanes belong to which channel.
    const unsigned laneMask[2] = {channels == 1 ? 0xFFFFu : 0x3333u, 0xCCCCu};
    const uint32_t bytesPerFrame = 2u * uint32_t(channels);
    // Only the order of the two matters: a channel is settled by the first
    // frame holding either sought extreme (the other, if sought, comes
    // later), which cuts the pass short on most blocks.
    constexpr uint32_t kLater = 0xFFFFFFFFu;
    const auto settle = [&](int c, bool atLowValue, bool atHighValue, uint32_t lowAt, uint32_t highAt) {
        const bool seekLow = pending & (1u << (2 * c)), seekHigh = pending & (2u << (2 * c));
        if (!(seekLow && atLowValue) && !(seekHigh && atHighValue)) return;
        if (seekLow) lowFrame[c] = atLowValue ? lowAt : kLater;
        if (seekHigh) highFrame[c] = atHighValue ? highAt : kLater;
        pending &= ~(3u << (2 * c));
    };
    const __m128i* v = reinterpret_cast<const __m128i*>(data);
    for (uint32_t i = 0; pending && i < vectors; ++i) {
        const __m128i a = _mm_loadu_si128(v + i);
        const unsigned atLow = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi16(a, lows)));
        const unsigned atHigh = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi16(a, highs)));
        if (!(atLow | atHigh)) continue;
        for (int c = 0; c < channels; ++c) {
            const unsigned l = atLow & laneMask[c], h = atHigh & laneMask[c];
            settle(c, l != 0, h != 0, l ? (i * 16 + unsigned(__builtin_ctz(l))) / bytesPerFrame : 0,
                   h ? (i * 16 + unsigned(__builtin_ctz(h))) / bytesPerFrame : 0);
        }
    }
    for (uint32_t s = vectors * 8; pending && s < samples; ++s) {
        const int c = int(s % uint32_t(channels));
        const int32_t value = LoadI16(data + 2 * s);
        const uint32_t frame = s / uint32_t(channels);
        settle(c, value == low[c], value == high[c], frame, frame);
    }
    for (int c = 0; c < channels; ++c) out[c] = Extremes{low[c], high[c], lowFrame[c], highFrame[c]};
}

int32_t Clamp(int64_t v, int32_t low, int32_t high, bool& clipped) {
    if (v > high) {
        clipped = true;
        return high;
    }
    if (v < low) {
        clipped = true;
        return low;
    }
    return int32_t(v);
}

}  // namespace

bool PCMIsValidFormat(const WAVEFORMATEX* format) noexcept {
    return format && format->wFormatTag == WAVE_FORMAT_PCM && (format->nChannels == 1 || format->nChannels == 2) &&
           (format->wBitsPerSample == 8 || format->wBitsPerSample == 16) && format->nSamplesPerSec >= 1;
}

uint32_t PCMConvertBits(int destBits, void* dest, int sourceBits, const void* source, uint32_t sourceBytes) noexcept {
    if ((destBits != 8 && destBits != 16) || (sourceBits != 8 && sourceBits != 16)) return 0;
    auto* out = static_cast<uint8_t*>(dest);
    const auto* in = static_cast<const uint8_t*>(source);
    if (destBits == sourceBits) {
        if (out != in) std::memmove(out, in, sourceBytes);
        return sourceBytes;
    }
    if (destBits == 8) {
        // Forward: each output byte lies at or before the word it comes from.
        const uint32_t samples = sourceBytes / 2;
        for (uint32_t i = 0; i < samples; ++i) out[i] = uint8_t(LoadI16(in + 2 * i) / 256 + 128);
        return samples;
    }
    // Backward: each output word lies at or after the byte it comes from.
    for (uint32_t i = sourceBytes; i-- > 0;) StoreI16(out + 2 * i, (int32_t(in[i]) - 128) * 256);
    return sourceBytes * 2;
}

bool PCMScaleVolume(const WAVEFORMATEX* format, void* buffer, uint32_t bytes, int32_t leftGain,
                    int32_t rightGain) noexcept {
    if (!format || format->wFormatTag != WAVE_FORMAT_PCM || !buffer) return false;
    const bool wide = format->wBitsPerSample != 8;
    const bool stereo = format->nChannels != 1;
    if (leftGain == kPCMUnityGain && (!stereo || rightGain == kPCMUnityGain)) return false;

    const uint32_t width = wide ? 2 : 1;
    const uint32_t frameBytes = width * (stereo ? 2 : 1);
    const uint32_t samples = (bytes / frameBytes) * (stereo ? 2 : 1);
    auto* p = static_cast<uint8_t*>(buffer);
    bool clipped = false;
    for (uint32_t i = 0; i < samples; ++i, p += width) {
        const int64_t gain = (stereo && (i & 1)) ? rightGain : leftGain;
        if (wide) {
            StoreI16(p, Clamp((gain * LoadI16(p)) >> 14, -32768, 32767, clipped));
        } else {
            *p = uint8_t(Clamp((gain * (int32_t(*p) - 128)) >> 14, -128, 127, clipped) + 128);
        }
    }
    return clipped;
}

void PCMFindPeaks(const WAVEFORMATEX* format, const void* data, uint32_t bytes, int16_t& leftFirst,
                  int16_t& leftSecond, int16_t& rightFirst, int16_t& rightSecond) noexcept {
    const bool wide = !format || format->wBitsPerSample != 8;
    const int channels = format && format->nChannels == 1 ? 1 : 2;
    const uint32_t frameBytes = (wide ? 2u : 1u) * uint32_t(channels);
    const uint32_t frames = data ? bytes / frameBytes : 0;
    if (!format || frames == 0) {
        const int16_t zero = wide ? 0 : 128;
        leftFirst = leftSecond = rightFirst = rightSecond = zero;
        return;
    }
    const auto* in = static_cast<const uint8_t*>(data);
    Extremes found[2];
    if (wide && HasSse2())
        Scan16Sse2(in, frames, channels, found);
    else if (wide)
        ScanScalar<true>(in, frames, frameBytes, channels, found);
    else
        ScanScalar<false>(in, frames, frameBytes, channels, found);
    if (channels == 1) found[1] = found[0];
    const int32_t offset = wide ? 0 : 128;
    Report(found[0], offset, leftFirst, leftSecond);
    Report(found[1], offset, rightFirst, rightSecond);
}

// ---- wide PCM reduced to 16 bits ----

namespace {

constexpr uint16_t kTagIeeeFloat = 0x0003;    // with 32 or 64 bits; 4 bits is an ADPCM of the same tag
constexpr uint16_t kTagExtensible = 0xFFFE;   // the real tag is the first word of the sub-format
constexpr uint16_t kExtensibleExtra = 22;     // valid bits, channel mask, sub-format GUID
constexpr uint32_t kSubFormatAt = 18 + 6;     // behind the record, valid bits and channel mask
// The tail every sub-format GUID of a wave format tag shares.
constexpr uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

enum class WideKind { none, integer, floating };

// What the sample words of a format are: integers of 24 or 32 bits, or
// IEEE floats of 32 or 64 bits.
WideKind KindOf(const WAVEFORMATEX* format) {
    if (!format || format->nChannels == 0) return WideKind::none;
    uint16_t tag = format->wFormatTag;
    if (tag == kTagExtensible) {
        if (format->cbSize < kExtensibleExtra) return WideKind::none;
        const auto* bytes = reinterpret_cast<const uint8_t*>(format);
        if (std::memcmp(bytes + kSubFormatAt + 2, kSubFormatTail, sizeof kSubFormatTail) != 0) return WideKind::none;
        tag = LoadU16(bytes + kSubFormatAt);
    }
    const uint16_t bits = format->wBitsPerSample;
    if (tag == WAVE_FORMAT_PCM && (bits == 24 || bits == 32)) return WideKind::integer;
    if (tag == kTagIeeeFloat && (bits == 32 || bits == 64)) return WideKind::floating;
    return WideKind::none;
}

// One sample on the 16-bit scale: an integer's top 16 bits, a float times
// 32768 rounded down and held to the 16-bit range (NaN counts as 0).
int32_t Reduce(const uint8_t* p, uint32_t width, WideKind kind) {
    if (kind == WideKind::integer) return LoadI16(p + width - 2);
    double value;
    if (width == 4) {
        uint32_t word = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        float f;
        std::memcpy(&f, &word, 4);
        value = f;
    } else {
        uint64_t word = 0;
        for (int i = 7; i >= 0; --i) word = word << 8 | p[i];
        std::memcpy(&value, &word, 8);
    }
    if (!(value == value)) return 0;
    const double scaled = value * 32768.0;
    if (scaled >= 32767.0) return 32767;
    if (scaled <= -32768.0) return -32768;
    const auto truncated = int32_t(scaled);
    return (double(truncated) > scaled) ? truncated - 1 : truncated;
}

}  // namespace

bool PCMIsWideFormat(const WAVEFORMATEX* format) noexcept { return KindOf(format) != WideKind::none; }

bool PCMFindWidePeaks(const WAVEFORMATEX* format, const void* data, uint32_t bytes, int16_t& leftFirst,
                      int16_t& leftSecond, int16_t& rightFirst, int16_t& rightSecond) noexcept {
    const WideKind kind = KindOf(format);
    leftFirst = leftSecond = rightFirst = rightSecond = 0;
    if (kind == WideKind::none) return false;
    const uint32_t width = format->wBitsPerSample / 8u;
    const uint32_t channels = format->nChannels;
    const uint32_t frameBytes = width * channels;
    const uint32_t frames = data ? bytes / frameBytes : 0;
    if (frames == 0) return true;
    const auto* in = static_cast<const uint8_t*>(data);
    const uint32_t shown = channels == 1 ? 1 : 2;
    Extremes found[2];
    for (uint32_t c = 0; c < shown; ++c) {
        Extremes e{kLow16, kHigh16};
        const uint8_t* p = in + c * width;
        for (uint32_t f = 0; f < frames; ++f, p += frameBytes) {
            const int32_t v = Reduce(p, width, kind);
            if (v < e.low) {
                e.low = v;
                e.lowFrame = f;
            }
            if (v > e.high) {
                e.high = v;
                e.highFrame = f;
            }
        }
        found[c] = e;
    }
    if (shown == 1) found[1] = found[0];
    Report(found[0], 0, leftFirst, leftSecond);
    Report(found[1], 0, rightFirst, rightSecond);
    return true;
}
