// The one frame header parser: the decoder reads each frame's header with
// it, and the stream parser takes rates, frame sizes and frame lengths from
// it too.
#include "mpegdec/MpegDecoder.h"
#include "mpegdec/MpegTables.h"

namespace mpegaudio {

namespace {

// Bytes of a frame without padding at `kbps`; a slot is 4 bytes in layer I.
int64_t UnpaddedBytes(const FrameHeader& h, int64_t kbps) {
    const int64_t bitrate = kbps * 1000;
    if (h.layer == 1) return 12 * bitrate / h.sampleRate * 4;
    return (h.layer == 2 || h.version == MpegVersion::mpeg1 ? 144 : 72) * bitrate / h.sampleRate;
}

// A free-format frame is no longer than one at the layer's highest indexed
// rate and no shorter than one at its lowest: a shorter one holds little
// more than its header (5-byte layer II frames would make 460 times their
// bytes in samples, and at 8 kHz a rate that rounds to 0). The lowest rate's
// frame holds the header, check word and side information (the least:
// MPEG-2 layer III at 8 kbit/s and 24 kHz, 24 bytes for 4 + 2 + 17).
int FreeBytesAt(const FrameHeader& h, int rateIndex) {
    return int(UnpaddedBytes(h, kBitrates[h.version == MpegVersion::mpeg1 ? 0 : 1][h.layer - 1][rateIndex]));
}
int LargestFreeBytes(const FrameHeader& h) { return FreeBytesAt(h, 14); }
int SmallestFreeBytes(const FrameHeader& h) { return FreeBytesAt(h, 1); }

}  // namespace

HeaderResult ParseHeader(const uint8_t* data, size_t size, FrameHeader& h, int freeBytes) {
    if (size < 4) return HeaderResult::tooShort;
    const uint32_t word = uint32_t(data[0]) << 24 | uint32_t(data[1]) << 16 | uint32_t(data[2]) << 8 | data[3];
    if ((word >> 21) != 0x7FF) return HeaderResult::noSync;
    switch ((word >> 19) & 3) {
    case 0: h.version = MpegVersion::mpeg25; break;
    case 2: h.version = MpegVersion::mpeg2; break;
    case 3: h.version = MpegVersion::mpeg1; break;
    default: return HeaderResult::badVersion;
    }
    const int layerBits = int((word >> 17) & 3);
    if (layerBits == 0) return HeaderResult::badLayer;
    h.layer = 4 - layerBits;
    h.crc = ((word >> 16) & 1) == 0;
    h.bitrateIndex = int((word >> 12) & 15);
    if (h.bitrateIndex == 15) return HeaderResult::badBitrate;
    h.sampleRateIndex = int((word >> 10) & 3);
    if (h.sampleRateIndex == 3) return HeaderResult::badSampleRate;
    h.padding = ((word >> 9) & 1) != 0;
    h.mode = int((word >> 6) & 3);
    h.modeExtension = int((word >> 4) & 3);
    h.channels = h.mode == 3 ? 1 : 2;
    const bool mpeg1 = h.version == MpegVersion::mpeg1;
    h.sampleRate = kSampleRates[int(h.version)][h.sampleRateIndex];
    h.samplesPerFrame = h.layer == 1 ? 384 : h.layer == 2 || mpeg1 ? 1152 : 576;
    const int padding = h.padding ? (h.layer == 1 ? 4 : 1) : 0;
    if (h.bitrateIndex == 0) {
        h.bitrateKbps = 0;
        h.frameBytes = 0;
        if (freeBytes == 0) return HeaderResult::freeFormat;
        if (freeBytes < SmallestFreeBytes(h) || freeBytes > LargestFreeBytes(h) || (h.layer == 1 && freeBytes % 4 != 0))
            return HeaderResult::badBitrate;
        const int64_t perKbps = int64_t(h.samplesPerFrame) * 1000;
        h.bitrateKbps = int((int64_t(freeBytes) * 8 * h.sampleRate + perKbps / 2) / perKbps);
        h.frameBytes = freeBytes + padding;
        return HeaderResult::ok;
    }
    h.bitrateKbps = kBitrates[mpeg1 ? 0 : 1][h.layer - 1][h.bitrateIndex];
    h.frameBytes = int(UnpaddedBytes(h, h.bitrateKbps)) + padding;
    return HeaderResult::ok;
}

int FindFreeFormatBytes(const uint8_t* data, size_t size) {
    FrameHeader h;
    if (ParseHeader(data, size, h) != HeaderResult::freeFormat) return 0;
    // Another free-format header of the stream at `at`; its padding.
    const auto follows = [&](int64_t at, bool& padded) {
        FrameHeader next;
        if (uint64_t(at) + 4 > size || ParseHeader(data + at, size - size_t(at), next) != HeaderResult::freeFormat) return false;
        padded = next.padding;
        return next.version == h.version && next.layer == h.layer && next.sampleRateIndex == h.sampleRateIndex;
    };
    const int slot = h.layer == 1 ? 4 : 1;
    const int padding = h.padding ? slot : 0;
    for (int bytes = SmallestFreeBytes(h); bytes <= LargestFreeBytes(h); ++bytes) {
        if (h.layer == 1 && bytes % 4 != 0) continue;
        bool padded = false;
        const int64_t next = int64_t(bytes) + padding;
        if (!follows(next, padded)) continue;
        const int64_t third = next + bytes + (padded ? slot : 0);
        bool ignored = false;
        if (uint64_t(third) + 4 > size || follows(third, ignored)) return bytes;
    }
    return 0;
}

}  // namespace mpegaudio
