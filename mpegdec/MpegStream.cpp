#include "mpegdec/MpegStream.h"

#include <algorithm>
#include <cstring>

namespace mpegdec {

namespace {

// Bit rates in kbit/s by bit-rate index (0: free format, 15: reserved).
constexpr int kBitRates[5][16] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, -1},  // MPEG-1 layer I
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, -1},     // MPEG-1 layer II
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, -1},      // MPEG-1 layer III
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, -1},     // MPEG-2/2.5 layer I
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1},          // MPEG-2/2.5 layers II, III
};
constexpr int kSampleRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

// The largest frame size over every bit rate, sample rate and padding a
// header may carry (bit-rate index 0 and 15 and sample-rate index 3 are
// refused by ParseHeader).
constexpr uint32_t LargestFrame() {
    uint32_t largest = 0;
    for (int version = 0; version < 3; ++version)
        for (int layer = 1; layer <= 3; ++layer)
            for (int rate = 1; rate < 15; ++rate)
                for (int sample = 0; sample < 3; ++sample) {
                    const int table = version == 0 ? layer - 1 : (layer == 1 ? 3 : 4);
                    const uint32_t bits = uint32_t(kBitRates[table][rate]) * 1000;
                    const uint32_t hz = uint32_t(kSampleRates[version][sample]);
                    const uint32_t size = layer == 1 ? (12 * bits / hz + 1) * 4 : (layer == 3 && version != 0 ? 72 : 144) * bits / hz + 1;
                    largest = size > largest ? size : largest;
                }
    return largest;
}
static_assert(LargestFrame() == kMaxFrameBytes, "kMaxFrameBytes must hold the largest frame a header can give");

uint32_t Be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// The "data" chunk of a RIFF WAVE file whose format tag is MPEG; false
// for any other file. `isWave` tells whether it was a RIFF WAVE file at all.
bool FindWaveData(std::span<const uint8_t> file, bool& isWave, uint64_t& start, uint64_t& end) {
    isWave = file.size() >= 12 && std::memcmp(file.data(), "RIFF", 4) == 0 && std::memcmp(file.data() + 8, "WAVE", 4) == 0;
    if (!isWave) return false;
    bool mpegFormat = false;
    uint64_t at = 12;
    while (at + 8 <= file.size()) {
        const uint64_t size = Le32(file.data() + at + 4);
        const uint64_t body = at + 8;
        if (std::memcmp(file.data() + at, "fmt ", 4) == 0 && body + 2 <= file.size()) {
            const uint16_t tag = Le16(file.data() + body);
            mpegFormat = tag == 0x0050 || tag == 0x0055;
        } else if (std::memcmp(file.data() + at, "data", 4) == 0) {
            if (!mpegFormat) return false;
            start = body;
            end = std::min<uint64_t>(body + size, file.size());
            return true;
        }
        at = body + size + (size & 1);
    }
    return false;
}

}  // namespace

int FrameHeader::SamplesPerFrame() const {
    if (Layer == 1) return 384;
    if (Layer == 2) return 1152;
    return Version == MpegVersion::Mpeg1 ? 1152 : 576;
}

uint32_t FrameHeader::FrameBytes() const {
    const uint32_t bitRate = uint32_t(BitRateKbps) * 1000;
    if (Layer == 1) return (12 * bitRate / uint32_t(SampleRate) + (Padding ? 1 : 0)) * 4;
    const uint32_t factor = Layer == 3 && Version != MpegVersion::Mpeg1 ? 72 : 144;
    return factor * bitRate / uint32_t(SampleRate) + (Padding ? 1 : 0);
}

HeaderResult ParseHeader(const uint8_t* b, FrameHeader& h) {
    if (b[0] != 0xFF || (b[1] & 0xE0) != 0xE0) return HeaderResult::NoSync;
    const int versionBits = (b[1] >> 3) & 3;
    const int layerBits = (b[1] >> 1) & 3;
    if (versionBits == 1 || layerBits == 0) return HeaderResult::NoSync;
    h.Version = versionBits == 3 ? MpegVersion::Mpeg1 : versionBits == 2 ? MpegVersion::Mpeg2 : MpegVersion::Mpeg25;
    h.Layer = 4 - layerBits;
    h.Crc = (b[1] & 1) == 0;
    const int rateIndex = b[2] >> 4;
    const int sampleIndex = (b[2] >> 2) & 3;
    if (rateIndex == 15 || sampleIndex == 3) return HeaderResult::Reserved;
    if (rateIndex == 0) return HeaderResult::FreeFormat;
    const int table = h.Version == MpegVersion::Mpeg1 ? h.Layer - 1 : (h.Layer == 1 ? 3 : 4);
    h.BitRateKbps = kBitRates[table][rateIndex];
    h.SampleRate = kSampleRates[int(h.Version)][sampleIndex];
    h.Padding = (b[2] >> 1) & 1;
    h.ModeBits = b[3] >> 6;
    // Layer II allows only some bit rates per mode; the rest is reserved.
    if (h.Layer == 2 && h.Version == MpegVersion::Mpeg1) {
        const bool mono = h.ModeBits == 3;
        if (mono && h.BitRateKbps > 192) return HeaderResult::Reserved;
        if (!mono && (h.BitRateKbps == 32 || h.BitRateKbps == 48 || h.BitRateKbps == 56 || h.BitRateKbps == 80))
            return HeaderResult::Reserved;
    }
    if ((b[3] & 3) == 2) return HeaderResult::Reserved;  // emphasis
    return HeaderResult::Ok;
}

LayoutResult FindLayout(std::span<const uint8_t> file, uint64_t offset, uint32_t trailingBytes, StreamLayout& layout) {
    layout = StreamLayout{};
    bool isWave = false;
    uint64_t start = std::min<uint64_t>(offset, file.size());
    uint64_t end = file.size();
    if (offset == 0 && FindWaveData(file, isWave, start, end)) {
        layout.AudioStart = start;
        layout.AudioEnd = end;
        return LayoutResult::Ok;
    }
    if (isWave) return LayoutResult::WaveWithoutMpeg;
    // ID3v2: "ID3", version, flags, a 28-bit size in four 7-bit bytes; a
    // footer of 10 more bytes when flag 0x10 is set.
    if (end - start >= 10 && std::memcmp(file.data() + start, "ID3", 3) == 0 && file[start + 3] != 0xFF &&
        (file[start + 6] | file[start + 7] | file[start + 8] | file[start + 9]) < 0x80) {
        const uint64_t size = uint64_t(file[start + 6]) << 21 | uint64_t(file[start + 7]) << 14 |
                              uint64_t(file[start + 8]) << 7 | file[start + 9];
        const uint64_t total = 10 + size + ((file[start + 5] & 0x10) ? 10 : 0);
        if (start + total > end) return LayoutResult::Id3v2PastEnd;
        start += total;
    }
    if (end - start >= 128 && std::memcmp(file.data() + end - 128, "TAG", 3) == 0) {
        layout.HasId3v1 = true;
        std::memcpy(layout.Id3v1, file.data() + end - 128, 128);
        end -= 128;
    }
    end = end - std::min<uint64_t>(trailingBytes, end - start);
    layout.AudioStart = start;
    layout.AudioEnd = end;
    return LayoutResult::Ok;
}

InfoFrame ReadInfoFrame(std::span<const uint8_t> frame, const FrameHeader& header) {
    InfoFrame info;
    if (header.Layer != 3) return info;
    // The side information follows the header (and its CRC).
    const bool mono = header.Channels() == 1;
    const size_t sideInfo = header.Version == MpegVersion::Mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    const size_t xing = 4 + (header.Crc ? 2 : 0) + sideInfo;
    if (frame.size() >= xing + 8 &&
        (std::memcmp(frame.data() + xing, "Xing", 4) == 0 || std::memcmp(frame.data() + xing, "Info", 4) == 0)) {
        info.Present = true;
        info.VariableRate = frame[xing] == 'X';
        const uint32_t flags = Be32(frame.data() + xing + 4);
        if ((flags & 1) && frame.size() >= xing + 12) info.Frames = Be32(frame.data() + xing + 8);
        // The fields the flags announce (frames, bytes, table of contents,
        // quality), then the encoder's tag: a 9-byte encoder name, and at
        // byte 21 three bytes of 12-bit delay and 12-bit padding.
        const size_t tag = xing + 8 + ((flags & 1) ? 4 : 0) + ((flags & 2) ? 4 : 0) + ((flags & 4) ? 100 : 0) + ((flags & 8) ? 4 : 0);
        if (frame.size() >= tag + 24 && frame[tag] >= 0x20 && frame[tag] < 0x7F) {
            const uint8_t* d = frame.data() + tag + 21;
            info.Gapless = true;
            info.EncoderDelay = uint32_t(d[0]) << 4 | d[1] >> 4;
            info.EncoderPadding = uint32_t(d[1] & 0x0F) << 8 | d[2];
        }
        return info;
    }
    // VBRI stands 32 bytes after the header: tag, version, delay, quality, bytes, frames.
    constexpr size_t vbri = 4 + 32;
    if (frame.size() >= vbri + 18 && std::memcmp(frame.data() + vbri, "VBRI", 4) == 0) {
        info.Present = true;
        info.VariableRate = true;
        info.Frames = Be32(frame.data() + vbri + 14);
    }
    return info;
}

FrameIndex BuildIndex(std::span<const uint8_t> file, const StreamLayout& layout) {
    FrameIndex index;
    const uint64_t end = std::min<uint64_t>(layout.AudioEnd, file.size());
    uint64_t at = layout.AudioStart;
    bool haveStream = false;
    // Right after a frame of the stream, where the next one must begin.
    bool locked = false;
    // Whether a frame of the stream (or of a first stream) stands at `pos`:
    // its header, confirmed by the next one unless it ends the area exactly
    // or follows a frame directly (garbage may come after it).
    auto frameAt = [&](uint64_t pos, FrameHeader& header) -> bool {
        if (pos + 4 > end) return false;
        const HeaderResult result = ParseHeader(file.data() + pos, header);
        if (result == HeaderResult::Reserved) index.SawReserved = true;
        if (result == HeaderResult::FreeFormat) index.SawFreeFormat = true;
        if (result != HeaderResult::Ok) return false;
        if (haveStream && !header.SameStream(index.First)) return false;
        const uint64_t next = pos + header.FrameBytes();
        if (next > end) return false;  // a truncated last frame is dropped
        if (next == end || (locked && haveStream)) return true;
        if (next + 4 > end) return haveStream;
        FrameHeader following;
        return ParseHeader(file.data() + next, following) == HeaderResult::Ok && following.SameStream(header);
    };
    bool first = true;
    while (at + 4 <= end) {
        FrameHeader header;
        if (!frameAt(at, header)) {
            locked = false;
            ++at;
            continue;
        }
        locked = true;
        const uint32_t size = header.FrameBytes();
        if (first) {
            first = false;
            const InfoFrame info = ReadInfoFrame(file.subspan(size_t(at), size), header);
            if (info.Present) {
                index.Info = info;
                index.First = header;
                at += size;
                continue;
            }
        }
        if (!haveStream) {
            haveStream = true;
            index.First = header;
        }
        index.Offsets.push_back(uint32_t(at));
        index.Sizes.push_back(uint16_t(size));
        index.AudioBytes += size;
        at += size;
    }
    return index;
}

}  // namespace mpegdec
