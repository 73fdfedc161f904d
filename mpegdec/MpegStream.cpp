#include "mpegdec/MpegStream.h"

#include <algorithm>
#include <cstring>

#include "mpegdec/MpegTables.h"

namespace mpegdec {

namespace {

// The largest frame size over every bit rate, sample rate and padding a
// header may carry (bit-rate index 15 and sample-rate index 3 are refused
// by ParseHeader; a free-format frame, index 0, is no longer than one at
// the highest indexed rate).
// The unpadded bytes of a frame at bit-rate index `rate` (version 0: MPEG-1,
// 1: MPEG-2, 2: MPEG-2.5).
constexpr uint32_t UnpaddedFrameBytes(int version, int layer, int rate, uint32_t hz) {
    const uint32_t bits = uint32_t(mpegaudio::kBitrates[version == 0 ? 0 : 1][layer - 1][rate]) * 1000;
    return layer == 1 ? 12 * bits / hz * 4 : (layer == 3 && version != 0 ? 72 : 144) * bits / hz;
}

constexpr uint32_t LargestFrame() {
    uint32_t largest = 0;
    for (int version = 0; version < 3; ++version)
        for (int layer = 1; layer <= 3; ++layer)
            for (int rate = 1; rate < 15; ++rate)
                for (int sample = 0; sample < 3; ++sample) {
                    const uint32_t size = UnpaddedFrameBytes(version, layer, rate, uint32_t(mpegaudio::kSampleRates[version][sample])) + (layer == 1 ? 4 : 1);
                    largest = size > largest ? size : largest;
                }
    return largest;
}
static_assert(LargestFrame() == kMaxFrameBytes, "kMaxFrameBytes must hold the largest frame a header can give");

uint32_t Be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// Reads exactly out.size() bytes at `offset`.
bool ReadExact(ByteSource& file, uint64_t offset, std::span<uint8_t> out) {
    return file.Read(offset, out) == int64_t(out.size());
}

// Bytes a free-format frame's length is found in: the frame, the next one
// and the header after it, each frame at most the largest.
constexpr size_t kFreeFormatReach = 2 * kMaxFrameBytes + 4;
// Bytes of the index window: several frames of the largest size, so one
// read serves many frames.
constexpr size_t kWindowBytes = 64 * 1024;
static_assert(kWindowBytes >= kFreeFormatReach + 4);

enum class WaveResult { NotWave, NoMpeg, Found, ReadError };

// The "data" chunk of a RIFF WAVE file whose format tag is MPEG.
WaveResult FindWaveData(ByteSource& file, uint64_t& start, uint64_t& end) {
    const uint64_t size = file.Size();
    uint8_t head[12];
    if (size < 12) return WaveResult::NotWave;
    if (!ReadExact(file, 0, head)) return WaveResult::ReadError;
    if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) return WaveResult::NotWave;
    bool mpegFormat = false;
    uint64_t at = 12;
    while (at + 8 <= size) {
        uint8_t chunk[10];
        if (!ReadExact(file, at, std::span<uint8_t>(chunk, 8))) return WaveResult::ReadError;
        const uint64_t chunkSize = Le32(chunk + 4);
        const uint64_t body = at + 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0 && body + 2 <= size) {
            if (!ReadExact(file, body, std::span<uint8_t>(chunk + 8, 2))) return WaveResult::ReadError;
            const uint16_t tag = Le16(chunk + 8);
            mpegFormat = tag == 0x0050 || tag == 0x0055;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!mpegFormat) return WaveResult::NoMpeg;
            start = body;
            end = std::min<uint64_t>(body + chunkSize, size);
            return WaveResult::Found;
        }
        at = body + chunkSize + (chunkSize & 1);
    }
    return WaveResult::NoMpeg;
}

}  // namespace

HeaderResult ParseHeader(const uint8_t* b, FrameHeader& h, uint32_t freeBytes) {
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
    if (rateIndex == 0 && freeBytes == 0) return HeaderResult::FreeFormat;
    h.FreeBytes = rateIndex == 0 ? freeBytes : 0;
    // Rates, frame size and length as the decoder reads them.
    mpegaudio::FrameHeader decoded;
    if (mpegaudio::ParseHeader(b, 4, decoded, int(h.FreeBytes)) != mpegaudio::HeaderResult::ok) return HeaderResult::Reserved;
    h.BitRateKbps = decoded.bitrateKbps;
    h.SampleRate = decoded.sampleRate;
    h.Padding = decoded.padding;
    h.ModeBits = decoded.mode;
    h.Samples = decoded.samplesPerFrame;
    h.Bytes = uint32_t(decoded.frameBytes);
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

int64_t MemorySource::Read(uint64_t offset, std::span<uint8_t> out) {
    if (offset >= bytes_.size()) return 0;
    const size_t count = size_t(std::min<uint64_t>(out.size(), bytes_.size() - offset));
    std::memcpy(out.data(), bytes_.data() + offset, count);
    return int64_t(count);
}

LayoutResult FindLayout(ByteSource& file, uint64_t offset, uint32_t trailingBytes, StreamLayout& layout) {
    layout = StreamLayout{};
    const uint64_t size = file.Size();
    uint64_t start = std::min<uint64_t>(offset, size);
    uint64_t end = size;
    if (offset == 0) {
        switch (FindWaveData(file, start, end)) {
        case WaveResult::Found:
            layout.AudioStart = start;
            layout.AudioEnd = end;
            return LayoutResult::Ok;
        case WaveResult::NoMpeg: return LayoutResult::WaveWithoutMpeg;
        case WaveResult::ReadError: return LayoutResult::ReadError;
        case WaveResult::NotWave: break;
        }
    }
    // ID3v2: "ID3", version, flags, a 28-bit size in four 7-bit bytes; a
    // footer of 10 more bytes when flag 0x10 is set.
    uint8_t id3[10];
    if (end - start >= 10) {
        if (!ReadExact(file, start, id3)) return LayoutResult::ReadError;
        if (std::memcmp(id3, "ID3", 3) == 0 && id3[3] != 0xFF && (id3[6] | id3[7] | id3[8] | id3[9]) < 0x80) {
            const uint64_t tagSize = uint64_t(id3[6]) << 21 | uint64_t(id3[7]) << 14 | uint64_t(id3[8]) << 7 | id3[9];
            const uint64_t total = 10 + tagSize + ((id3[5] & 0x10) ? 10 : 0);
            if (start + total > end) return LayoutResult::Id3v2PastEnd;
            start += total;
        }
    }
    if (end - start >= 128) {
        if (!ReadExact(file, end - 128, layout.Id3v1)) return LayoutResult::ReadError;
        if (std::memcmp(layout.Id3v1, "TAG", 3) == 0) {
            layout.HasId3v1 = true;
            end -= 128;
        } else {
            std::memset(layout.Id3v1, 0, sizeof layout.Id3v1);
        }
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
        const size_t bytes = xing + 8 + ((flags & 1) ? 4 : 0);
        if ((flags & 2) && frame.size() >= bytes + 4) info.Bytes = Be32(frame.data() + bytes);
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
        info.Bytes = Be32(frame.data() + vbri + 10);
        info.Frames = Be32(frame.data() + vbri + 14);
    }
    return info;
}

uint32_t SmallestFrameBytes(const FrameHeader& h) {
    if (h.FreeBytes) return h.FreeBytes;
    const int version = h.Version == MpegVersion::Mpeg1 ? 0 : h.Version == MpegVersion::Mpeg2 ? 1 : 2;
    return UnpaddedFrameBytes(version, h.Layer, 1, uint32_t(h.SampleRate));
}

void FrameIndex::Reset(const StreamLayout& layout) {
    *this = FrameIndex{};
    end_ = layout.AudioEnd;
    at_ = layout.AudioStart;
    complete_ = at_ >= end_;
}

uint64_t FrameIndex::GapBefore(size_t i) const {
    const uint32_t gap = frames_[i] >> 12;
    if (gap < kBigGap) return gap;
    const auto big = std::lower_bound(bigGaps_.begin(), bigGaps_.end(), uint64_t(i), [](const BigGap& g, uint64_t frame) { return g.frame < frame; });
    return big->bytes;
}

uint64_t FrameIndex::Offset(size_t i) const {
    const size_t block = i / kBlockFrames * kBlockFrames;
    uint64_t offset = blocks_[i / kBlockFrames];
    for (size_t j = block + 1; j <= i; ++j) offset += Size(j - 1) + GapBefore(j);
    return offset;
}

void FrameIndex::Add(uint64_t offset, uint32_t size) {
    static_assert(kMaxFrameBytes <= kSizeMask);
    const size_t i = frames_.size();
    uint32_t gap = 0;
    if (i % kBlockFrames == 0) {
        blocks_.push_back(offset);
    } else {
        const uint64_t bytes = offset - lastEnd_;
        gap = uint32_t(std::min<uint64_t>(bytes, kBigGap));
        if (bytes >= kBigGap) bigGaps_.push_back({i, bytes});
    }
    frames_.push_back(uint16_t(size | gap << 12));
    lastEnd_ = offset + size;
    AudioBytes += size;
}

const uint8_t* FrameIndex::Bytes(ByteSource& file, uint64_t pos, size_t count) {
    if (pos + count > end_) return nullptr;
    if (pos < windowAt_ || pos + count > windowAt_ + windowBytes_) {
        if (window_.empty()) window_.resize(kWindowBytes);
        const size_t want = size_t(std::min<uint64_t>(kWindowBytes, end_ - pos));
        const int64_t got = file.Read(pos, std::span<uint8_t>(window_.data(), want));
        if (got < 0) readError_ = true;
        windowAt_ = pos;
        windowBytes_ = got < 0 ? 0 : size_t(got);
        if (pos + count > windowAt_ + windowBytes_) return nullptr;
    }
    return window_.data() + (pos - windowAt_);
}

// Whether a frame of the stream (or of a first stream) stands at `pos`: its
// header, confirmed by the next one unless it ends the area exactly or
// follows a frame directly (garbage may come after it).
bool FrameIndex::FrameAt(ByteSource& file, uint64_t pos, FrameHeader& header) {
    const uint8_t* bytes = Bytes(file, pos, 4);
    if (!bytes) return false;
    HeaderResult result = ParseHeader(bytes, header, freeBytes_);
    if (result == HeaderResult::FreeFormat) {
        // Found with the stream, a free-format header is not of it; before,
        // the first few have their length looked for.
        if (haveStream_) return false;
        if (freeSearches_ < kFreeFormatSearches) {
            ++freeSearches_;
            const size_t reach = size_t(std::min<uint64_t>(kFreeFormatReach, end_ - pos));
            const uint8_t* frames = Bytes(file, pos, reach);
            const int found = frames ? mpegaudio::FindFreeFormatBytes(frames, reach) : 0;
            if (found > 0) result = ParseHeader(Bytes(file, pos, 4), header, uint32_t(found));
        }
    }
    if (result == HeaderResult::Reserved) SawReserved = true;
    if (result == HeaderResult::FreeFormat) SawFreeFormat = true;
    if (result != HeaderResult::Ok) return false;
    if (haveStream_ && !header.SameStream(First)) return false;
    const uint64_t next = pos + header.FrameBytes();
    if (next > end_) return false;  // a truncated last frame is dropped
    if (next == end_ || (locked_ && haveStream_)) return true;
    if (next + 4 > end_) return haveStream_;
    // The frame and the next header in the window together.
    if (!Bytes(file, pos, size_t(next + 4 - pos))) return false;
    FrameHeader following;
    return ParseHeader(Bytes(file, next, 4), following, header.FreeBytes) == HeaderResult::Ok && following.SameStream(header);
}

bool FrameIndex::Extend(ByteSource& file, size_t count) {
    while (!complete_ && Count() < count && !readError_) {
        if (at_ + 4 > end_) {
            complete_ = true;
            break;
        }
        FrameHeader header;
        if (!FrameAt(file, at_, header)) {
            locked_ = false;
            ++at_;
            continue;
        }
        locked_ = true;
        const uint32_t size = header.FrameBytes();
        if (first_) {
            first_ = false;
            const uint8_t* bytes = Bytes(file, at_, size);
            const InfoFrame info = bytes ? ReadInfoFrame(std::span<const uint8_t>(bytes, size), header) : InfoFrame{};
            if (info.Present) {
                Info = info;
                First = header;
                freeBytes_ = header.FreeBytes;
                at_ += size;
                continue;
            }
        }
        if (!haveStream_) {
            haveStream_ = true;
            First = header;
            freeBytes_ = header.FreeBytes;
        }
        Add(at_, size);
        at_ += size;
    }
    return !readError_;
}

}  // namespace mpegdec
