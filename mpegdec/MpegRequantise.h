// Requantisation of layers I and II without a division per sample.
//
// A sample is sent as an n-bit code v of a quantiser with 2^n - 1 levels
// (n = 2..16) and stands for (2v - 2^n + 2) / (2^n - 1) before its
// scalefactor. LevelValue multiplies the numerator by the reciprocal in
// double precision and rounds once to single precision, which gives the
// float a division gives: the quotient of two integers below 2^17 is 0, a
// whole number, or lies at least 2^-41 of its size away from every point
// halfway between two floats, while the double product is within 2^-52 of
// it, so both round to the same float (also where the product is kept in
// x87 registers, which are more precise still).
//
// Layer II sends the samples of its 3-, 5- and 9-level classes three to a
// code (v0 + levels * v1 + levels^2 * v2, first sample lowest); their
// values come from tables by code, made by the compiler, whose division is
// the same correctly rounded one.
#pragma once

#include <cstdint>

namespace mpegaudio {

// 1 / (2^n - 1) in double precision, by n (entries 0 and 1 unused).
inline constexpr double kLevelReciprocals[17] = {
    0.0,       0.0,        1.0 / 3,    1.0 / 7,    1.0 / 15,   1.0 / 31,    1.0 / 63,    1.0 / 127,   1.0 / 255,
    1.0 / 511, 1.0 / 1023, 1.0 / 2047, 1.0 / 4095, 1.0 / 8191, 1.0 / 16383, 1.0 / 32767, 1.0 / 65535,
};

inline float LevelValue(uint32_t code, int bits) {
    const int32_t numerator = int32_t(code << 1) - (int32_t(1) << bits) + 2;
    return float(double(numerator) * kLevelReciprocals[bits]);
}

// Three sample values for every code a grouped field of `Levels` levels can
// hold (`Codes`: 2^5, 2^7 and 2^10). Codes past the last group, which
// encoders never send, give each digit modulo the levels, the top one too.
struct GroupedValues {
    float values[3];
};

template <int Levels, int Codes>
struct GroupTable {
    GroupedValues codes[Codes];
    constexpr GroupTable() : codes() {
        for (int code = 0; code < Codes; ++code) {
            int rest = code;
            for (float& value : codes[code].values) {
                value = float(2 * (rest % Levels) - Levels + 1) / float(Levels);
                rest /= Levels;
            }
        }
    }
};

inline constexpr GroupTable<3, 32> kGroups3;
inline constexpr GroupTable<5, 128> kGroups5;
inline constexpr GroupTable<9, 1024> kGroups9;

}  // namespace mpegaudio
