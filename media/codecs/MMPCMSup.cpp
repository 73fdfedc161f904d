// Peak finding is the hot path here: the wave preview scans whole files
// with it. 16-bit data goes through one vector pass, AVX-512, AVX2 or SSE2,
// as the processor has them (checked at run time: the 32-bit program also runs on
// processors without either); the scalar scan serves 8-bit data and the
// rest.
#include "media/codecs/MMPCMSup.h"

#include <immintrin.h>

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

// A channel's extremes and the frames where each was first seen. Only the
// order of the two frames is used; the vector scan gives exact frames only
// where it needs them to settle that order.
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

// AVX2 with its register state kept by the system (the compiler's check
// asks both the processor and the system).
bool HasAvx2() {
    static const bool present = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return present;
}

// AVX-512 with 16-bit lanes (its BW part), its register state kept by the
// system (the compiler's check asks both, as for AVX2).
bool HasAvx512() {
    static const bool present = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512bw") != 0;
    }();
    return present;
}

// The 16-bit scan walks a block once, in chunks of whole vectors. Each
// vector lane keeps its running lowest and highest value and the number of
// the chunk in which that value last moved (strictly). A lane's first sight
// of its final extreme therefore lies in the chunk noted for it, and a
// channel's in the earliest chunk noted by its lanes at that extreme. The
// order of the pair follows from the two chunks; only when both extremes
// lie in one chunk is that chunk read again, from the cache, for the exact
// frames. The pass itself does no more per vector than a minimum and a
// maximum, which keeps it as fast as the memory it reads.
//
// Vectors per chunk: 32 vectors (512 bytes) keep the bookkeeping at the end
// of a chunk small beside its loads, and a rescan short. Chunk numbers are
// 16-bit lanes; a block of more than 65535 such chunks (32 MiB) takes
// longer chunks.
constexpr uint32_t kChunkVectors = 32;
constexpr uint32_t kMaxChunks = 0xFFFF;

#define WC_SSE2 __attribute__((target("sse2"), always_inline)) inline

// Every lane gets the lowest (highest) value of its channel's lanes: lane l
// carries channel l % channels.
WC_SSE2 __m128i SpreadMin16(__m128i x, int channels) {
    x = _mm_min_epi16(x, _mm_shuffle_epi32(x, _MM_SHUFFLE(1, 0, 3, 2)));
    x = _mm_min_epi16(x, _mm_shuffle_epi32(x, _MM_SHUFFLE(2, 3, 0, 1)));
    if (channels == 1) {
        x = _mm_min_epi16(x, _mm_shufflelo_epi16(x, _MM_SHUFFLE(2, 3, 0, 1)));
        x = _mm_min_epi16(x, _mm_shufflehi_epi16(x, _MM_SHUFFLE(2, 3, 0, 1)));
    }
    return x;
}
WC_SSE2 __m128i SpreadMax16(__m128i x, int channels) {
    x = _mm_max_epi16(x, _mm_shuffle_epi32(x, _MM_SHUFFLE(1, 0, 3, 2)));
    x = _mm_max_epi16(x, _mm_shuffle_epi32(x, _MM_SHUFFLE(2, 3, 0, 1)));
    if (channels == 1) {
        x = _mm_max_epi16(x, _mm_shufflelo_epi16(x, _MM_SHUFFLE(2, 3, 0, 1)));
        x = _mm_max_epi16(x, _mm_shufflehi_epi16(x, _MM_SHUFFLE(2, 3, 0, 1)));
    }
    return x;
}

// Per channel, the earliest chunk noted by a lane whose value is the
// channel's extreme (`value`, spread over the lanes); spread like the values.
WC_SSE2 __m128i FirstChunk16(__m128i lanes, __m128i value, __m128i chunks, int channels) {
    // Chunk numbers are unsigned: flipping the top bit lets the signed
    // minimum order them.
    const __m128i top = _mm_set1_epi16(int16_t(0x8000));
    const __m128i at = _mm_cmpeq_epi16(lanes, value);
    const __m128i keys =
        _mm_or_si128(_mm_and_si128(at, _mm_xor_si128(chunks, top)), _mm_andnot_si128(at, _mm_set1_epi16(0x7FFF)));
    return _mm_xor_si128(SpreadMin16(keys, channels), top);
}

// Lane 0 or 1 of eight 16-bit lanes, sign-extended.
WC_SSE2 int32_t Lane16(__m128i x, uint32_t lane) {
    return int16_t(lane == 0 ? _mm_extract_epi16(x, 0) : _mm_extract_epi16(x, 1));
}

// The first sample, from vector `from` up to `to`, whose lane is one of
// `lanes` (a byte mask of a 16-byte vector) and whose value is `value`; its
// sample index. `to` * 8 when there is none.
__attribute__((target("sse2"))) uint32_t FirstSample16(const uint8_t* data, uint32_t from, uint32_t to,
                                                        int32_t value, unsigned lanes) {
    const __m128i* v = reinterpret_cast<const __m128i*>(data);
    const __m128i sought = _mm_set1_epi16(int16_t(value));
    for (uint32_t i = from; i < to; ++i) {
        const unsigned at = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_loadu_si128(v + i), sought))) & lanes;
        if (at) return i * 8 + unsigned(__builtin_ctz(at)) / 2;
    }
    return to * 8;
}

// The vector pass's result: per lane its lowest and highest value and the
// chunks in which they last moved.
struct Lanes16 {
    __m128i lo, hi, loChunk, hiChunk;
};

// The pass over `vectors` vectors in chunks of `chunkVectors`, both
// multiples of 4. lo and hi: the running extremes up to the last finished
// chunk; lo1 and hi1 run within the chunk. Each step takes four vectors
// and folds them pairwise before they meet lo1 and hi1: the running
// extremes then wait on one minimum and one maximum (and on the register
// copy the compiler puts behind each) per four vectors, not per vector,
// and no more registers are needed than the 32-bit build has. Over a piece
// in the second-level cache, unrolled twice, this scanned 1 GiB in about
// 18 ms where two chains side by side, taking a vector each, took 24 ms
// (64-bit build, on a processor that also has the wider passes).
WC_SSE2 void Pass16Sse2(const uint8_t* data, uint32_t vectors, uint32_t chunkVectors, Lanes16& out) {
    const __m128i* v = reinterpret_cast<const __m128i*>(data);
    __m128i lo = _mm_set1_epi16(int16_t(kLow16));
    __m128i hi = _mm_set1_epi16(int16_t(kHigh16));
    __m128i lo1 = lo, hi1 = hi;
    __m128i loChunk = _mm_setzero_si128(), hiChunk = _mm_setzero_si128();
    __m128i chunk = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi16(1);
    const __m128i* const last = v + vectors;
    for (const __m128i* p = v; p != last;) {
        const __m128i* const end = p + std::min(uint32_t(last - p), chunkVectors);
#pragma GCC unroll 2
        do {
            const __m128i a = _mm_loadu_si128(p), b = _mm_loadu_si128(p + 1);
            const __m128i c = _mm_loadu_si128(p + 2), d = _mm_loadu_si128(p + 3);
            lo1 = _mm_min_epi16(lo1, _mm_min_epi16(_mm_min_epi16(a, b), _mm_min_epi16(c, d)));
            hi1 = _mm_max_epi16(hi1, _mm_max_epi16(_mm_max_epi16(a, b), _mm_max_epi16(c, d)));
            p += 4;
        } while (p != end);
        // A lane whose value moved notes this chunk.
        const __m128i loKept = _mm_cmpeq_epi16(lo1, lo), hiKept = _mm_cmpeq_epi16(hi1, hi);
        loChunk = _mm_or_si128(_mm_and_si128(loKept, loChunk), _mm_andnot_si128(loKept, chunk));
        hiChunk = _mm_or_si128(_mm_and_si128(hiKept, hiChunk), _mm_andnot_si128(hiKept, chunk));
        lo = lo1;
        hi = hi1;
        chunk = _mm_add_epi16(chunk, one);
    }
    out = Lanes16{lo, hi, loChunk, hiChunk};
}

// Two lanes' states folded into one: the value that wins (`aWins`, `bWins`
// the lanes where a or b does strictly) and its chunk; on a tie the earlier
// chunk, as the value was first seen there.
__attribute__((target("avx2"), always_inline)) inline __m128i FoldChunks16(__m128i aWins, __m128i aChunk, __m128i bWins,
                                                                          __m128i bChunk) {
    const __m128i top = _mm_set1_epi16(int16_t(0x8000));
    const __m128i earlier =
        _mm_xor_si128(_mm_min_epi16(_mm_xor_si128(aChunk, top), _mm_xor_si128(bChunk, top)), top);
    return _mm_or_si128(_mm_or_si128(_mm_and_si128(aWins, aChunk), _mm_and_si128(bWins, bChunk)),
                        _mm_andnot_si128(_mm_or_si128(aWins, bWins), earlier));
}

// The same pass with 32-byte vectors: each holds an even vector of the
// 16-byte pass in its low half and the following odd one in its high half,
// and a chunk is as many bytes as there; `vectors` and `chunkVectors` are
// multiples of 8. Each step folds four 32-byte vectors pairwise before
// they meet the running extremes, as the 16-byte pass does: over a piece in
// the second-level cache, unrolled twice, it scanned 1 GiB in about 8 ms,
// where one chain taking a vector at a time took 22 ms and two such chains
// side by side 12 ms. At the end the halves fold into the 16-byte pass's lanes.
// Out of line, so that no caller runs with the upper register halves in
// use.
__attribute__((target("avx2"), noinline)) void Pass16Avx2(const uint8_t* data, uint32_t vectors,
                                                          uint32_t chunkVectors, Lanes16& out) {
    const __m256i* v = reinterpret_cast<const __m256i*>(data);
    __m256i lo = _mm256_set1_epi16(int16_t(kLow16));
    __m256i hi = _mm256_set1_epi16(int16_t(kHigh16));
    __m256i lo1 = lo, hi1 = hi;
    __m256i loChunk = _mm256_setzero_si256(), hiChunk = _mm256_setzero_si256();
    __m256i chunk = _mm256_setzero_si256();
    const __m256i* const last = v + vectors / 2;
    const uint32_t chunkWide = chunkVectors / 2;
    for (const __m256i* p = v; p != last;) {
        const __m256i* const end = p + std::min(uint32_t(last - p), chunkWide);
#pragma GCC unroll 2
        do {
            const __m256i a = _mm256_loadu_si256(p), b = _mm256_loadu_si256(p + 1);
            const __m256i c = _mm256_loadu_si256(p + 2), d = _mm256_loadu_si256(p + 3);
            lo1 = _mm256_min_epi16(lo1, _mm256_min_epi16(_mm256_min_epi16(a, b), _mm256_min_epi16(c, d)));
            hi1 = _mm256_max_epi16(hi1, _mm256_max_epi16(_mm256_max_epi16(a, b), _mm256_max_epi16(c, d)));
            p += 4;
        } while (p != end);
        // A lane whose value moved notes this chunk.
        const __m256i loKept = _mm256_cmpeq_epi16(lo1, lo), hiKept = _mm256_cmpeq_epi16(hi1, hi);
        loChunk = _mm256_or_si256(_mm256_and_si256(loKept, loChunk), _mm256_andnot_si256(loKept, chunk));
        hiChunk = _mm256_or_si256(_mm256_and_si256(hiKept, hiChunk), _mm256_andnot_si256(hiKept, chunk));
        lo = lo1;
        hi = hi1;
        chunk = _mm256_sub_epi16(chunk, _mm256_set1_epi16(-1));
    }
    const __m128i loA = _mm256_castsi256_si128(lo), loB = _mm256_extracti128_si256(lo, 1);
    const __m128i hiA = _mm256_castsi256_si128(hi), hiB = _mm256_extracti128_si256(hi, 1);
    out.lo = _mm_min_epi16(loA, loB);
    out.hi = _mm_max_epi16(hiA, hiB);
    out.loChunk = FoldChunks16(_mm_cmpgt_epi16(loB, loA), _mm256_castsi256_si128(loChunk), _mm_cmpgt_epi16(loA, loB),
                               _mm256_extracti128_si256(loChunk, 1));
    out.hiChunk = FoldChunks16(_mm_cmpgt_epi16(hiA, hiB), _mm256_castsi256_si128(hiChunk), _mm_cmpgt_epi16(hiB, hiA),
                               _mm256_extracti128_si256(hiChunk, 1));
}

// FoldChunks16 on eight 16-bit lanes at a time.
__attribute__((target("avx2"), always_inline)) inline __m256i FoldChunks256(__m256i aWins, __m256i aChunk,
                                                                           __m256i bWins, __m256i bChunk) {
    const __m256i top = _mm256_set1_epi16(int16_t(0x8000));
    const __m256i earlier =
        _mm256_xor_si256(_mm256_min_epi16(_mm256_xor_si256(aChunk, top), _mm256_xor_si256(bChunk, top)), top);
    return _mm256_or_si256(_mm256_or_si256(_mm256_and_si256(aWins, aChunk), _mm256_and_si256(bWins, bChunk)),
                           _mm256_andnot_si256(_mm256_or_si256(aWins, bWins), earlier));
}

// The halves of a 64-byte vector. (The plain extract and cast leave an
// unused operand undefined, which the 32-bit compiler takes for an
// uninitialized read.)
__attribute__((target("avx512bw"), always_inline)) inline __m256i Lower256(__m512i x) {
    return _mm512_maskz_extracti64x4_epi64(__mmask8(0xFF), x, 0);
}
__attribute__((target("avx512bw"), always_inline)) inline __m256i Upper256(__m512i x) {
    return _mm512_maskz_extracti64x4_epi64(__mmask8(0xFF), x, 1);
}

// The same pass with 64-byte vectors, each holding four consecutive vectors
// of the 16-byte pass; `vectors` and `chunkVectors` are multiples of 8.
// Two chains run over the even and the odd 64-byte vectors: one alone
// waits on its own minimum, and the data, just copied into the
// second-level cache, arrives faster than that. At the end the quarters
// fold into the 16-byte pass's lanes; within one chunk the quarters' order
// does not matter, the earlier chunk wins a tie. Out of line, so that no
// caller runs with the upper register halves in use.
__attribute__((target("avx512bw"), noinline)) void Pass16Avx512(const uint8_t* data, uint32_t vectors,
                                                                uint32_t chunkVectors, Lanes16& out) {
    const __m512i* v = reinterpret_cast<const __m512i*>(data);
    __m512i lo = _mm512_set1_epi16(int16_t(kLow16));
    __m512i hi = _mm512_set1_epi16(int16_t(kHigh16));
    __m512i lo1 = lo, hi1 = hi, lo2 = lo, hi2 = hi;
    __m512i loChunk = _mm512_setzero_si512(), hiChunk = _mm512_setzero_si512();
    __m512i chunk = _mm512_setzero_si512();
    const __m512i* const last = v + vectors / 4;
    const uint32_t chunkWide = chunkVectors / 4;
    for (const __m512i* p = v; p != last;) {
        const __m512i* const end = p + std::min(uint32_t(last - p), chunkWide);
#pragma GCC unroll 2
        do {
            const __m512i a = _mm512_loadu_si512(p);
            const __m512i b = _mm512_loadu_si512(p + 1);
            lo1 = _mm512_min_epi16(lo1, a);
            hi1 = _mm512_max_epi16(hi1, a);
            lo2 = _mm512_min_epi16(lo2, b);
            hi2 = _mm512_max_epi16(hi2, b);
            p += 2;
        } while (p != end);
        // A lane whose value moved notes this chunk.
        const __m512i newLo = _mm512_min_epi16(lo1, lo2), newHi = _mm512_max_epi16(hi1, hi2);
        loChunk = _mm512_mask_blend_epi16(_mm512_cmpeq_epi16_mask(newLo, lo), chunk, loChunk);
        hiChunk = _mm512_mask_blend_epi16(_mm512_cmpeq_epi16_mask(newHi, hi), chunk, hiChunk);
        lo = newLo;
        hi = newHi;
        chunk = _mm512_add_epi16(chunk, _mm512_set1_epi16(1));
    }
    // Four quarters to two, then two to one.
    const __m256i loA = Lower256(lo), loB = Upper256(lo);
    const __m256i hiA = Lower256(hi), hiB = Upper256(hi);
    const __m256i lo2x = _mm256_min_epi16(loA, loB), hi2x = _mm256_max_epi16(hiA, hiB);
    const __m256i loChunk2x = FoldChunks256(_mm256_cmpgt_epi16(loB, loA), Lower256(loChunk),
                                            _mm256_cmpgt_epi16(loA, loB), Upper256(loChunk));
    const __m256i hiChunk2x = FoldChunks256(_mm256_cmpgt_epi16(hiA, hiB), Lower256(hiChunk),
                                            _mm256_cmpgt_epi16(hiB, hiA), Upper256(hiChunk));
    const __m128i loC = _mm256_castsi256_si128(lo2x), loD = _mm256_extracti128_si256(lo2x, 1);
    const __m128i hiC = _mm256_castsi256_si128(hi2x), hiD = _mm256_extracti128_si256(hi2x, 1);
    out.lo = _mm_min_epi16(loC, loD);
    out.hi = _mm_max_epi16(hiC, hiD);
    out.loChunk = FoldChunks16(_mm_cmpgt_epi16(loD, loC), _mm256_castsi256_si128(loChunk2x),
                               _mm_cmpgt_epi16(loC, loD), _mm256_extracti128_si256(loChunk2x, 1));
    out.hiChunk = FoldChunks16(_mm_cmpgt_epi16(hiC, hiD), _mm256_castsi256_si128(hiChunk2x),
                               _mm_cmpgt_epi16(hiD, hiC), _mm256_extracti128_si256(hiChunk2x, 1));
}

// 16-bit data, mono (channels 1) or stereo (channels 2), by `scan` (one of
// the vector passes). The stack is realigned on entry: 32-bit callers only
// promise 4-byte alignment. Out of line, so that its vector registers stay
// its own.
__attribute__((target("sse2"), force_align_arg_pointer, noinline)) void Scan16Vector(const uint8_t* data,
                                                                                       uint32_t frames, int channels,
                                                                                       PCMPeakScan scan,
                                                                                       Extremes* out) {
    const uint32_t samples = frames * uint32_t(channels);
    // Whole groups of vectors, as many as the pass takes in one step; the
    // samples behind them go the scalar way. Chunks hold whole groups too,
    // and at most kMaxChunks of them cover the block.
    const uint32_t group = scan == PCMPeakScan::sse2 ? 4 : 8;
    const uint32_t vectors = samples / (8 * group) * group;
    const uint32_t needed = (vectors + kMaxChunks - 1) / kMaxChunks;
    const uint32_t chunkVectors = std::max(kChunkVectors, (needed + group - 1) / group * group);
    Lanes16 lanes;
    if (scan == PCMPeakScan::avx512) Pass16Avx512(data, vectors, chunkVectors, lanes);
    else if (scan == PCMPeakScan::avx2) Pass16Avx2(data, vectors, chunkVectors, lanes);
    else Pass16Sse2(data, vectors, chunkVectors, lanes);
    const __m128i lo = lanes.lo, hi = lanes.hi, loChunk = lanes.loChunk, hiChunk = lanes.hiChunk;
    const __m128i low = SpreadMin16(lo, channels), high = SpreadMax16(hi, channels);
    const __m128i lowIn = FirstChunk16(lo, low, loChunk, channels);
    const __m128i highIn = FirstChunk16(hi, high, hiChunk, channels);

    const uint32_t cn = uint32_t(channels);
    const uint32_t chunkFrames = chunkVectors * 8 / cn;
    for (uint32_t c = 0; c < cn; ++c) {
        Extremes e{Lane16(low, c), Lane16(high, c)};
        // Frames standing for the order of the two: an extreme still at its
        // starting value was never replaced and keeps frame 0; one that was
        // gets the first frame of its chunk, or, when both share a chunk,
        // its exact frame.
        const uint32_t lowChunk = e.low == kLow16 ? 0 : uint32_t(uint16_t(Lane16(lowIn, c)));
        const uint32_t highChunk = e.high == kHigh16 ? 0 : uint32_t(uint16_t(Lane16(highIn, c)));
        if (lowChunk != highChunk) {
            e.lowFrame = lowChunk * chunkFrames;
            e.highFrame = highChunk * chunkFrames;
        } else {
            const unsigned lanes = cn == 1 ? 0xFFFFu : 0x3333u << (2 * c);
            const uint32_t from = lowChunk * chunkVectors, to = std::min(vectors, from + chunkVectors);
            if (e.low != kLow16) e.lowFrame = FirstSample16(data, from, to, e.low, lanes) / cn;
            if (e.high != kHigh16) e.highFrame = FirstSample16(data, from, to, e.high, lanes) / cn;
        }
        // The samples behind the last whole vector come last in time.
        for (uint32_t s = vectors * 8 + c; s < samples; s += cn) {
            const int32_t value = LoadI16(data + 2 * s);
            if (value < e.low) {
                e.low = value;
                e.lowFrame = s / cn;
            }
            if (value > e.high) {
                e.high = value;
                e.highFrame = s / cn;
            }
        }
        out[c] = e;
    }
}

#undef WC_SSE2

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

bool PCMPeakScanAvailable(PCMPeakScan scan) noexcept {
    switch (scan) {
    case PCMPeakScan::scalar: return true;
    case PCMPeakScan::sse2: return HasSse2();
    case PCMPeakScan::avx2: return HasSse2() && HasAvx2();
    case PCMPeakScan::avx512: return HasSse2() && HasAvx2() && HasAvx512();
    }
    return false;
}

void PCMFindPeaks(const WAVEFORMATEX* format, const void* data, uint32_t bytes, int16_t& leftFirst,
                  int16_t& leftSecond, int16_t& rightFirst, int16_t& rightSecond) noexcept {
    static const PCMPeakScan fastest = PCMPeakScanAvailable(PCMPeakScan::avx512) ? PCMPeakScan::avx512
                                       : PCMPeakScanAvailable(PCMPeakScan::avx2)   ? PCMPeakScan::avx2
                                       : PCMPeakScanAvailable(PCMPeakScan::sse2)   ? PCMPeakScan::sse2
                                                                                   : PCMPeakScan::scalar;
    PCMFindPeaksUsing(fastest, format, data, bytes, leftFirst, leftSecond, rightFirst, rightSecond);
}

void PCMFindPeaksUsing(PCMPeakScan scan, const WAVEFORMATEX* format, const void* data, uint32_t bytes,
                       int16_t& leftFirst, int16_t& leftSecond, int16_t& rightFirst, int16_t& rightSecond) noexcept {
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
    if (!PCMPeakScanAvailable(scan)) scan = PCMPeakScan::scalar;
    if (wide && scan != PCMPeakScan::scalar)
        Scan16Vector(in, frames, channels, scan, found);
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
