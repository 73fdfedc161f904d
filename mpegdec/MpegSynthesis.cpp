#include "mpegdec/MpegSynthesis.h"

#include <cmath>
#include <cstring>

#include "mpegdec/MpegTables.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#define MPEGDEC_X86 1
#if defined(_WIN32)
#include <windows.h>
#endif
#endif

namespace mpegaudio {

// One step of the filter bank works on V, the 64 values the matrixing makes
// of the 32 new subband samples:
//   V[i] = sum_k S[k] cos((16 + i)(2k + 1) pi / 64),  i = 0..63.
// With A[j] = sum_k S[k] cos((2k + 1) j pi / 64), a 32-point cosine
// transform (A[32] = 0), the cosine's symmetries give
//   V[0..16] = A[16..32],  V[17..47] = -A[31..1],  V[48..63] = -A[0..15],
// so only the transform is computed (see Dct below). The output is then
//   out[j] = sum_m V_(2m)[j] D[64m + j] + V_(2m+1)[32 + j] D[64m + 32 + j],
// m = 0..7, where V_d is the V of d steps ago and D the window: two
// contiguous runs of 32 per term, which vectorise directly.
namespace {

constexpr int kHistory = Synthesis::kHistory;

typedef float Vec4 __attribute__((vector_size(16)));
typedef float Vec8 __attribute__((vector_size(32)));

// 1 / (2 cos((2k + 1) pi / 2N)) for the transform of size N (index N + k).
struct DctFactors {
    float f[64];
    DctFactors() {
        const double pi = std::acos(-1.0);
        for (int n = 2; n <= 32; n *= 2)
            for (int k = 0; k < n / 2; ++k) f[n + k] = float(0.5 / std::cos((2 * k + 1) * pi / (2 * n)));
    }
};

struct Tables {
    DctFactors dct;
    alignas(32) float window[512];  // D scaled to 16-bit full scale
    Tables() {
        for (int i = 0; i < 512; ++i) {
            const int32_t h = kSynthesisWindowHalf[i <= 256 ? i : 512 - i];
            // Units of 2^-16, times 32768 for 16-bit full scale: h / 2.
            const double value = h / 2.0;
            window[i] = float((i / 64) % 2 == 1 ? -value : value);
        }
    }
};

const Tables& T() {
    static const Tables tables;
    return tables;
}

// The cosine transform out[j] = sum_k in[k] cos((2k + 1) j pi / 2N), split
// into two of half the size (even outputs from the sums of mirrored inputs,
// odd ones from their scaled differences), on every lane at once: each lane
// is one time slot.
template <int N, typename V>
__attribute__((always_inline)) inline void Dct(const V* in, V* out, const float* factors) {
    if constexpr (N == 1) {
        out[0] = in[0];
    } else {
        V sums[N / 2], differences[N / 2], even[N / 2], odd[N / 2];
        for (int k = 0; k < N / 2; ++k) {
            sums[k] = in[k] + in[N - 1 - k];
            differences[k] = (in[k] - in[N - 1 - k]) * factors[N + k];
        }
        Dct<N / 2>(sums, even, factors);
        Dct<N / 2>(differences, odd, factors);
        for (int j = 0; j < N / 2; ++j) out[2 * j] = even[j];
        for (int j = 0; j < N / 2 - 1; ++j) out[2 * j + 1] = odd[j] + odd[j + 1];
        out[N - 1] = odd[N / 2 - 1];
    }
}

// V of the new step from lane `lane` of the transform A.
template <typename V>
__attribute__((always_inline)) inline void SpreadV(const V* a, int lane, float* v) {
    for (int i = 0; i < 16; ++i) v[i] = a[16 + i][lane];
    v[16] = 0.0f;
    for (int i = 17; i < 48; ++i) v[i] = -a[48 - i][lane];
    for (int i = 48; i < 64; ++i) v[i] = -a[i - 48][lane];
}

inline void SpreadScalar(const float* a, float* v) {
    for (int i = 0; i < 16; ++i) v[i] = a[16 + i];
    v[16] = 0.0f;
    for (int i = 17; i < 48; ++i) v[i] = -a[48 - i];
    for (int i = 48; i < 64; ++i) v[i] = -a[i - 48];
}

// The new step `n` of the history, with its copy kHistory steps on.
inline void CopyStep(float (*hist)[64], int n) { std::memcpy(hist[n + kHistory], hist[n], sizeof hist[n]); }

inline int16_t Clip16(float x) {
    // Rounds half to even, as the vector conversions do.
    const float r = std::nearbyint(x);
    if (r >= 32767.0f) return 32767;
    if (r <= -32768.0f) return -32768;
    return int16_t(r);
}

// The subband samples of time slots t0.. (up to L of them) as lanes.
template <typename V, int L>
__attribute__((always_inline)) inline void Gather(const float* subbands, int bandStride, int t0, int count, V* in) {
    for (int k = 0; k < 32; ++k) {
        const float* from = subbands + k * bandStride + t0;
        if (count == L) {
            std::memcpy(&in[k], from, sizeof(V));
        } else {
            V x = {};
            for (int l = 0; l < count; ++l) x[l] = from[l];
            in[k] = x;
        }
    }
}

void RunPlain(const float* subbands, int bandStride, int slots, float (*hist)[64], int& n, int16_t* pcm, int stride) {
    const Tables& t = T();
    for (int slot = 0; slot < slots; ++slot) {
        float in[32], a[32];
        for (int k = 0; k < 32; ++k) in[k] = subbands[k * bandStride + slot];
        Dct<32>(in, a, t.dct.f);
        n = (n - 1) & (kHistory - 1);
        SpreadScalar(a, hist[n]);
        CopyStep(hist, n);
        float acc[32] = {};
        for (int m = 0; m < 8; ++m) {
            const float* even = hist[n + 2 * m];
            const float* odd = hist[n + 2 * m + 1] + 32;
            const float* d = t.window + 64 * m;
            for (int j = 0; j < 32; ++j) acc[j] += even[j] * d[j] + odd[j] * d[32 + j];
        }
        int16_t* out = pcm + slot * 32 * stride;
        for (int j = 0; j < 32; ++j) out[j * stride] = Clip16(acc[j]);
    }
}

#if MPEGDEC_X86
// Rounds and clips 32 sums to 16 bits as Clip16 does. The conversion to 32
// bits answers 0x80000000 for 2^31 and more, which the pack would keep as
// -32768: the sums are clamped below 32767 first (the pack clips the rest,
// and a sum of -2^31 or less converts to 0x80000000, which is right).
__attribute__((target("sse2"))) inline void Store16(const __m128* acc, int16_t* out, int stride) {
    alignas(16) int16_t pcm[32];
    const __m128 top = _mm_set1_ps(32767.0f);
    for (int i = 0; i < 4; ++i) {
        const __m128i lo = _mm_cvtps_epi32(_mm_min_ps(acc[2 * i], top)), hi = _mm_cvtps_epi32(_mm_min_ps(acc[2 * i + 1], top));
        _mm_store_si128(reinterpret_cast<__m128i*>(pcm + 8 * i), _mm_packs_epi32(lo, hi));
    }
    if (stride == 1) {
        std::memcpy(out, pcm, sizeof pcm);
    } else {
        for (int j = 0; j < 32; ++j) out[j * stride] = pcm[j];
    }
}

// Transposes four vectors of four: r[i][j] becomes r[j][i].
__attribute__((target("sse2"), always_inline)) inline void Transpose4(__m128* r) {
    const __m128 t0 = _mm_unpacklo_ps(r[0], r[1]), t1 = _mm_unpackhi_ps(r[0], r[1]);
    const __m128 t2 = _mm_unpacklo_ps(r[2], r[3]), t3 = _mm_unpackhi_ps(r[2], r[3]);
    r[0] = _mm_movelh_ps(t0, t2);
    r[1] = _mm_movehl_ps(t2, t0);
    r[2] = _mm_movelh_ps(t1, t3);
    r[3] = _mm_movehl_ps(t3, t1);
}

// -from[3], -from[2], -from[1], -from[0].
__attribute__((target("sse2"), always_inline)) inline __m128 NegatedReverse4(const float* from) {
    const __m128 x = _mm_loadu_ps(from);
    return _mm_xor_ps(_mm_shuffle_ps(x, x, _MM_SHUFFLE(0, 1, 2, 3)), _mm_set1_ps(-0.0f));
}

// V of one step from its transform A (a[0..31], a[32] = 0, `a` and `v`
// 16-byte aligned), by whole vectors: V[0..15] = A[16..31], V[16] = 0,
// V[17..47] = -A[31..1], V[48..63] = -A[0..15].
// Stored at v and at its copy.
__attribute__((target("sse2"), always_inline)) inline void Store2(float* v, float* copy, int at, __m128 x) {
    _mm_store_ps(v + at, x);
    _mm_store_ps(copy + at, x);
}

__attribute__((target("sse2"), always_inline)) inline void SpreadRow4(const float* a, float* v, float* copy) {
    const __m128 sign = _mm_set1_ps(-0.0f);
    for (int i = 0; i < 4; ++i) Store2(v, copy, 4 * i, _mm_load_ps(a + 16 + 4 * i));
    // V[16] is A[32] = 0 negated: kept a plain zero.
    Store2(v, copy, 16, _mm_move_ss(NegatedReverse4(a + 29), _mm_setzero_ps()));
    for (int i = 1; i < 8; ++i) Store2(v, copy, 16 + 4 * i, NegatedReverse4(a + 29 - 4 * i));
    for (int i = 0; i < 4; ++i) Store2(v, copy, 48 + 4 * i, _mm_xor_ps(_mm_load_ps(a + 4 * i), sign));
}

// Time slots windowed at once on the SSE2 path: see RunSse2.
constexpr int kSse2SlotsPerWindowLoad = sizeof(void*) == 8 ? 4 : 2;

__attribute__((target("sse2"), force_align_arg_pointer)) void RunSse2(const float* subbands, int bandStride, int slots,
                                                                    float (*hist)[64], int& n, int16_t* pcm, int stride) {
    const Tables& t = T();
    for (int t0 = 0; t0 < slots; t0 += 4) {
        const int count = slots - t0 < 4 ? slots - t0 : 4;
        Vec4 in[32], a[32];
        Gather<Vec4, 4>(subbands, bandStride, t0, count, in);
        Dct<32>(in, a, t.dct.f);
        // Each time slot's A in a row of its own (lanes to rows), with
        // A[32] = 0.
        alignas(16) float rows[4][36];
        for (int g = 0; g < 8; ++g) {
            __m128 r[4];
            for (int l = 0; l < 4; ++l) r[l] = __m128(a[4 * g + l]);
            Transpose4(r);
            for (int l = 0; l < 4; ++l) _mm_store_ps(&rows[l][4 * g], r[l]);
        }
        for (auto& row : rows) _mm_store_ps(row + 32, _mm_setzero_ps());
        // Several time slots at a time, sharing the window's loads, as the
        // AVX2 path does (the history's room for it is noted there): two in
        // a 32-bit build, whose eight registers hold two sums and two window
        // vectors with the products; all four where there are sixteen.
        constexpr int kGroup = kSse2SlotsPerWindowLoad;
        for (int lane = 0; lane < count; lane += kGroup) {
            const int group = count - lane < kGroup ? count - lane : kGroup;
            // Each slot's 16 steps in a row: V_d at step[s] + 64 d. A group
            // short of slots repeats its last one and stores it once.
            const float* step[kGroup];
            for (int s = 0; s < kGroup; ++s) {
                if (s < group) {
                    n = (n - 1) & (kHistory - 1);
                    SpreadRow4(rows[lane + s], hist[n], hist[n + kHistory]);
                }
                step[s] = hist[n];
            }
            // Four outputs of the group's slots at a time, all eight terms,
            // in the plain path's order, the sums in registers (sums over
            // all outputs at once would spill).
            __m128 acc[kGroup][8];
            for (int i = 0; i < 8; ++i) {
                __m128 sum[kGroup];
                for (int s = 0; s < kGroup; ++s) sum[s] = _mm_setzero_ps();
                for (int m = 0; m < 8; ++m) {
                    const float* d = t.window + 64 * m + 4 * i;
                    const __m128 evenWindow = _mm_load_ps(d), oddWindow = _mm_load_ps(d + 32);
                    for (int s = 0; s < kGroup; ++s) {
                        const __m128 e = _mm_mul_ps(_mm_load_ps(step[s] + 128 * m + 4 * i), evenWindow);
                        const __m128 o = _mm_mul_ps(_mm_load_ps(step[s] + 128 * m + 96 + 4 * i), oddWindow);
                        sum[s] = _mm_add_ps(sum[s], _mm_add_ps(e, o));
                    }
                }
                for (int s = 0; s < kGroup; ++s) acc[s][i] = sum[s];
            }
            for (int s = 0; s < group; ++s) Store16(acc[s], pcm + (t0 + lane + s) * 32 * stride, stride);
        }
    }
}

// Transposes eight vectors of eight: r[i][j] becomes r[j][i].
__attribute__((target("avx2"), always_inline)) inline void Transpose8(__m256* r) {
    __m256 t[8], u[8];
    for (int i = 0; i < 4; ++i) {
        t[2 * i] = _mm256_unpacklo_ps(r[2 * i], r[2 * i + 1]);
        t[2 * i + 1] = _mm256_unpackhi_ps(r[2 * i], r[2 * i + 1]);
    }
    for (int i = 0; i < 2; ++i) {
        u[4 * i] = _mm256_shuffle_ps(t[4 * i], t[4 * i + 2], 0x44);
        u[4 * i + 1] = _mm256_shuffle_ps(t[4 * i], t[4 * i + 2], 0xEE);
        u[4 * i + 2] = _mm256_shuffle_ps(t[4 * i + 1], t[4 * i + 3], 0x44);
        u[4 * i + 3] = _mm256_shuffle_ps(t[4 * i + 1], t[4 * i + 3], 0xEE);
    }
    for (int i = 0; i < 4; ++i) {
        r[i] = _mm256_permute2f128_ps(u[i], u[4 + i], 0x20);
        r[4 + i] = _mm256_permute2f128_ps(u[i], u[4 + i], 0x31);
    }
}

// -from[7], -from[6], ..., -from[0].
__attribute__((target("avx2"), always_inline)) inline __m256 NegatedReverse(const float* from) {
    const __m256i reverse = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
    return _mm256_xor_ps(_mm256_permutevar8x32_ps(_mm256_loadu_ps(from), reverse), _mm256_set1_ps(-0.0f));
}

// V of one step from its transform A (a[0..31], a[32] = 0), by whole
// vectors: V[0..15] = A[16..31], V[16] = 0, V[17..47] = -A[31..1],
// V[48..63] = -A[0..15].
// Stored at v and at its copy.
__attribute__((target("avx2"), always_inline)) inline void Store2(float* v, float* copy, int at, __m256 x) {
    _mm256_store_ps(v + at, x);
    _mm256_store_ps(copy + at, x);
}

__attribute__((target("avx2"), always_inline)) inline void SpreadRow(const float* a, float* v, float* copy) {
    const __m256 sign = _mm256_set1_ps(-0.0f);
    Store2(v, copy, 0, _mm256_loadu_ps(a + 16));
    Store2(v, copy, 8, _mm256_loadu_ps(a + 24));
    // V[16] is A[32] = 0 negated: kept a plain zero.
    Store2(v, copy, 16, _mm256_blend_ps(NegatedReverse(a + 25), _mm256_setzero_ps(), 1));
    Store2(v, copy, 24, NegatedReverse(a + 17));
    Store2(v, copy, 32, NegatedReverse(a + 9));
    Store2(v, copy, 40, NegatedReverse(a + 1));
    Store2(v, copy, 48, _mm256_xor_ps(_mm256_loadu_ps(a), sign));
    Store2(v, copy, 56, _mm256_xor_ps(_mm256_loadu_ps(a + 8), sign));
}

// The subband samples of time slots t0..t0 + count - 1 (count below 8) as
// lanes, the other lanes zero: masked loads, which read nothing past the
// last slot (Gather's lane by lane filling costs a stalled reload a band).
__attribute__((target("avx2"), always_inline)) inline void GatherSome(const float* subbands, int bandStride, int t0, int count, Vec8* in) {
    const __m256i mask = _mm256_cmpgt_epi32(_mm256_set1_epi32(count), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    for (int k = 0; k < 32; ++k) in[k] = Vec8(_mm256_maskload_ps(subbands + k * bandStride + t0, mask));
}

__attribute__((target("avx2"), force_align_arg_pointer)) void RunAvx2(const float* subbands, int bandStride, int slots,
                                                                        float (*hist)[64], int& n, int16_t* pcm, int stride) {
    const Tables& t = T();
    for (int t0 = 0; t0 < slots; t0 += 8) {
        const int count = slots - t0 < 8 ? slots - t0 : 8;
        Vec8 in[32], a[32];
        if (count == 8)
            Gather<Vec8, 8>(subbands, bandStride, t0, count, in);
        else
            GatherSome(subbands, bandStride, t0, count, in);
        Dct<32>(in, a, t.dct.f);
        // Each time slot's A in a row of its own (lanes to rows), with A[32] = 0.
        alignas(32) float rows[8][40];
        for (int g = 0; g < 4; ++g) {
            __m256 r[8];
            for (int l = 0; l < 8; ++l) r[l] = __m256(a[8 * g + l]);
            Transpose8(r);
            for (int l = 0; l < 8; ++l) _mm256_storeu_ps(&rows[l][8 * g], r[l]);
        }
        for (auto& row : rows) _mm256_storeu_ps(row + 32, _mm256_setzero_ps());
        // Two time slots at a time, sharing the window's loads; the history
        // holds 16 steps more than one slot needs, so the second slot's
        // new V does not overwrite the oldest V of the first.
        for (int lane = 0; lane < count; lane += 2) {
            const bool pair = lane + 1 < count;
            const int first = n = (n - 1) & (kHistory - 1);
            SpreadRow(rows[lane], hist[n], hist[n + kHistory]);
            if (pair) {
                n = (n - 1) & (kHistory - 1);
                SpreadRow(rows[lane + 1], hist[n], hist[n + kHistory]);
            }
            // Each slot's 16 steps in a row: V_d at step[s] + 64 d.
            const float* step[2] = {hist[first], hist[n]};
            // Eight outputs of both slots at a time, all eight terms, so
            // that the sums stay in registers (eight of them in a 32-bit
            // build).
            __m256 acc[2][4];
            for (int i = 0; i < 4; ++i) {
                __m256 sum[2] = {_mm256_setzero_ps(), _mm256_setzero_ps()};
                for (int m = 0; m < 8; ++m) {
                    const float* d = t.window + 64 * m + 8 * i;
                    const __m256 evenWindow = _mm256_load_ps(d), oddWindow = _mm256_load_ps(d + 32);
                    // The plain path's sums in its order (no fused
                    // multiply-add), so that every path gives the same samples.
                    for (int s = 0; s < 2; ++s) {
                        const __m256 e = _mm256_mul_ps(_mm256_load_ps(step[s] + 128 * m + 8 * i), evenWindow);
                        const __m256 o = _mm256_mul_ps(_mm256_load_ps(step[s] + 128 * m + 96 + 8 * i), oddWindow);
                        sum[s] = _mm256_add_ps(sum[s], _mm256_add_ps(e, o));
                    }
                }
                acc[0][i] = sum[0];
                acc[1][i] = sum[1];
            }
            for (int s = 0; s < (pair ? 2 : 1); ++s) {
                __m128 halves[8];
                for (int i = 0; i < 4; ++i) {
                    halves[2 * i] = _mm256_castps256_ps128(acc[s][i]);
                    halves[2 * i + 1] = _mm256_extractf128_ps(acc[s][i], 1);
                }
                Store16(halves, pcm + (t0 + lane + s) * 32 * stride, stride);
            }
        }
    }
}
#endif

void InterleavePlain(const int16_t* left, const int16_t* right, int count, int16_t* out) {
    for (int i = 0; i < count; ++i) {
        out[2 * i] = left[i];
        out[2 * i + 1] = right[i];
    }
}

#if MPEGDEC_X86
__attribute__((target("sse2"))) void InterleaveSse2(const int16_t* left, const int16_t* right, int count, int16_t* out) {
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(left + i));
        const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(right + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), _mm_unpacklo_epi16(l, r));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i + 8), _mm_unpackhi_epi16(l, r));
    }
    InterleavePlain(left + i, right + i, count - i, out + 2 * i);
}
#endif

}  // namespace

bool SynthesisPathAvailable(SynthesisPath path) {
#if MPEGDEC_X86
    static const bool sse2 = [] {
#if defined(_WIN32)
        return ::IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE) != 0;
#else
        __builtin_cpu_init();
        return __builtin_cpu_supports("sse2") != 0;
#endif
    }();
    // The compiler's check asks both the processor and the system (that the
    // system keeps the wide registers).
    static const bool avx2 = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    switch (path) {
    case SynthesisPath::plain: return true;
    case SynthesisPath::sse2: return sse2;
    case SynthesisPath::avx2: return sse2 && avx2;
    }
    return false;
#else
    return path == SynthesisPath::plain;
#endif
}

SynthesisPath FastestSynthesisPath() {
    static const SynthesisPath fastest = SynthesisPathAvailable(SynthesisPath::avx2)   ? SynthesisPath::avx2
                                         : SynthesisPathAvailable(SynthesisPath::sse2) ? SynthesisPath::sse2
                                                                                        : SynthesisPath::plain;
    return fastest;
}

Synthesis::Synthesis() : path_(FastestSynthesisPath()) { Reset(); }

void Synthesis::Reset() {
    std::memset(history_, 0, sizeof history_);
    newest_[0] = newest_[1] = 0;
}

void Synthesis::ResetChannel(int channel) {
    std::memset(history_[channel & 1], 0, sizeof history_[0]);
    newest_[channel & 1] = 0;
}

void Synthesis::Run(int channel, const float* subbands, int bandStride, int slots, int16_t* pcm, int stride) {
    float (*hist)[64] = history_[channel & 1];
    int& n = newest_[channel & 1];
#if MPEGDEC_X86
    if (path_ == SynthesisPath::avx2) return RunAvx2(subbands, bandStride, slots, hist, n, pcm, stride);
    if (path_ == SynthesisPath::sse2) return RunSse2(subbands, bandStride, slots, hist, n, pcm, stride);
#endif
    RunPlain(subbands, bandStride, slots, hist, n, pcm, stride);
}

void Synthesis::Interleave(const int16_t* left, const int16_t* right, int count, int16_t* out) const {
#if MPEGDEC_X86
    if (path_ != SynthesisPath::plain) return InterleaveSse2(left, right, count, out);
#endif
    InterleavePlain(left, right, count, out);
}

}  // namespace mpegaudio
