#include <gtest/gtest.h>

#include "WaveFixtures.h"

using namespace testing_support;
using namespace wavefix;

namespace {

// Deterministic pseudo-random numbers, so a failing case can be replayed.
struct Lcg {
    uint32_t state;
    uint32_t Next() { return state = state * 1664525u + 1013904223u; }
    uint32_t Below(uint32_t n) { return n ? (Next() >> 8) % n : 0; }
};

std::vector<uint8_t> Seed(uint32_t kind) {
    ByteWriter w = StartWaveForm();
    if (kind % 3 == 0) {
        w.chunk("fmt ", FormatFields(1, 2, 22050, 88200, 4, 16));
    } else {
        w.tag("fmt ").u32(20).u16(0x11).u16(1).u32(22050).u32(11100).u16(256).u16(4).u16(2).u16(505);
        w.tag("fact").u32(4).u32(1010);
    }
    w.tag("data").u32(1000).bytes(MakeTestSamples16(1, 500, kind + 1));
    w.tag("DISP").u32(4 + 4).u32(1).bytes({'a', 'b', 'c', 0});
    w.tag("LIST").u32(4 + 8 + 4).tag("INFO").tag("INAM").u32(4).bytes({'x', 'y', 'z', 0});
    return EndWaveForm(w);
}

void Mutate(std::vector<uint8_t>& bytes, Lcg& rng) {
    static const uint32_t extremes[] = {0, 1, 3, 4, 0x7FFFFFFF, 0x80000000, 0xFFFFFFF7, 0xFFFFFFFF};
    const uint32_t kind = rng.Below(4);
    if (kind == 0) {  // flipped bytes
        for (uint32_t n = 1 + rng.Below(6); n--;) bytes[rng.Below(uint32_t(bytes.size()))] ^= uint8_t(1 + rng.Below(255));
    } else if (kind == 1) {  // cut file
        bytes.resize(rng.Below(uint32_t(bytes.size())));
    } else {  // an extreme value in a size or format field
        const size_t at = size_t(rng.Below(uint32_t(bytes.size() / 2))) * 2;
        const uint32_t value = extremes[rng.Below(8)];
        for (size_t i = 0; i < (kind == 2 ? 4u : 2u) && at + i < bytes.size(); ++i) bytes[at + i] = uint8_t(value >> (8 * i));
    }
}

TEST(WaveRobustness, MutatedFilesGiveCodesAndKeepTheInvariants) {
    TempDir dir("wrob");
    const std::string path = dir / "m.wav";
    Lcg rng{12345};
    int opened = 0;
    std::vector<uint8_t> buffer(4096 + 16);
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes = Seed(uint32_t(round));
        Mutate(bytes, rng);
        if (round % 2) Mutate(bytes, rng);
        WriteFileBytes(path, bytes);
        PWaveIOHandle h = nullptr;
        const int code = WaveIOOpen(h, path.c_str());
        if (code != 0) {
            ASSERT_EQ(h, nullptr);
            ASSERT_TRUE(code == WaveIOErrFile || code == WaveIOErrGeneral || code == RiffErrIO ||
                        code == WaveIOErrNoMemory || code == RiffErrNoMemory)
                << "round " << round << " code " << code;
            continue;
        }
        ++opened;
        ASSERT_LE(int64_t(h->dataOffset) + h->dataBytes, int64_t(bytes.size())) << round;
        if (h->format.nBlockAlign) {
            // Whole blocks, but for a short last block of Microsoft (2) or
            // IMA (0x11) ADPCM, which keeps at least its header: 7 or 4
            // bytes a channel.
            const uint64_t rest = h->dataBytes % h->format.nBlockAlign;
            const uint16_t tag = h->format.wFormatTag;
            if (tag == 2 || tag == 0x11) {
                if (rest) {
                    ASSERT_GE(rest, (tag == 2 ? 7u : 4u) * h->format.nChannels) << round;
                }
            } else {
                ASSERT_EQ(rest, 0u) << round;
            }
        }
        (void)WaveFormatDescription(&h->format);
        // A wave with samples that opens must also be readable: streamed
        // placeholder sizes once failed here and were passed over.
        const bool accessed = WaveIOBeginAccess(h) == 0;
        if (h->dataBytes > 0) {
            ASSERT_TRUE(accessed) << "round " << round;
        }
        if (accessed) {
            const int32_t seekTo = int32_t(rng.Below(h->totalSamples + 2));
            ASSERT_EQ(WaveIOSeek(h, seekTo), 0) << round;
            ASSERT_LE(h->bytesLeft, h->dataBytes) << round;
            int64_t total = 0;
            for (int reads = 0; reads < 100; ++reads) {
                const int32_t want = int32_t(1 + rng.Below(4096));
                buffer[size_t(want)] = 0xA5;
                const int32_t got = WaveIORead(h, buffer.data(), want);
                if (got <= 0) break;
                ASSERT_LE(got, want) << round;
                ASSERT_EQ(buffer[size_t(want)], 0xA5) << round;  // nothing written past what was asked
                total += got;
            }
            ASSERT_LE(total, int64_t(h->dataBytes)) << round;
        }
        ASSERT_EQ(WaveIOEndAccess(h), 0);
        ASSERT_EQ(WaveIOFree(h), 0);
        ASSERT_EQ(ReadFileBytes(path), bytes) << "round " << round << " modified the file";
    }
    EXPECT_GT(opened, 300);  // the mutations leave many files readable
}

}  // namespace
