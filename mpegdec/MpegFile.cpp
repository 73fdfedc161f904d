#include "mpegdec/MpegFile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

#include "mpegdec/MpegStatus.h"

namespace mpegdec {

namespace {

// Frames handed to the decoding step in one call, and their bytes at most.
constexpr size_t kBatchBytes = size_t(kFramesPerBatch) * kMaxFrameBytes;
// A frame's output depends on the frame before it (layer III's overlap, the
// synthesis filter bank's 512-sample history, longer than a layer I frame):
// a seek decodes this many frames before the one it needs and drops them.
constexpr uint32_t kSettleFrames = 2;
// Layer III takes up to 511 bytes of a frame's data from the frames before
// it: a seek also decodes earlier frames until their data holds this many
// bytes. A frame's data is counted as its size less the most its header,
// CRC and side information take (4 + 2 + 32 bytes), so never too much.
constexpr uint64_t kReservoirBytes = 511;
constexpr uint32_t kFrameOverheadBytes = 38;
// The synthesis filter bank keeps its history in a ring of 16 slots of 32
// samples, and a decoder's rounding may depend on where in the ring a
// frame starts: a seek starts at a frame whose first sample is a multiple
// of 16 * 32 samples from the start, as in a decode from the start.
constexpr uint32_t kSynthesisRingSamples = 512;
// Layer III's synthesis puts 529 samples before the first one of the stream;
// the encoder's tag counts its padding with them.
constexpr uint32_t kLayer3DecoderDelay = 529;
// An audio area up to this size is indexed whole when the file is set (a
// few milliseconds); a larger one is indexed as far as reads and seeks go,
// its frame count meanwhile taken from its information frame or its size.
constexpr uint64_t kEagerIndexBytes = 1024 * 1024;

}  // namespace

int64_t CachedSource::Read(uint64_t offset, std::span<uint8_t> out) {
    const uint64_t size = source_->Size();
    if (offset >= size) return 0;
    const size_t count = size_t(std::min<uint64_t>(out.size(), size - offset));
    if (offset < cacheAt_ || offset + count > cacheAt_ + cacheBytes_) {
        if (count >= kCacheBytes) return source_->Read(offset, out.first(count));
        cache_.resize(kCacheBytes);
        const int64_t got = source_->Read(offset, std::span<uint8_t>(cache_.data(), size_t(std::min<uint64_t>(kCacheBytes, size - offset))));
        cacheAt_ = offset;
        cacheBytes_ = got < 0 ? 0 : size_t(got);
        if (got < 0) return -1;
    }
    const size_t have = size_t(std::min<uint64_t>(count, cacheAt_ + cacheBytes_ - offset));
    std::memcpy(out.data(), cache_.data() + (offset - cacheAt_), have);
    return int64_t(have);
}

int32_t MpegFile::Set(std::unique_ptr<ByteSource> raw, uint64_t offset, uint32_t trailingBytes) {
    Clear();
    auto source = std::make_unique<CachedSource>(std::move(raw));
    StreamLayout layout;
    switch (FindLayout(*source, offset, trailingBytes, layout)) {
    case LayoutResult::Id3v2PastEnd: return MPEG_ERR_ID3V2_SIZE;
    case LayoutResult::WaveWithoutMpeg: return MPEG_ERR_WAVE_NO_MPEG;
    case LayoutResult::ReadError: return MPEG_ERR_READ;
    case LayoutResult::Ok: break;
    }
    FrameIndex index;
    index.Reset(layout);
    const bool eager = layout.AudioEnd - layout.AudioStart <= kEagerIndexBytes;
    if (!index.Extend(*source, eager ? SIZE_MAX : 1)) return MPEG_ERR_READ;
    if (index.Count() == 0) {
        if (index.SawFreeFormat) return MPEG_ERR_FREE_FORMAT;
        if (index.SawReserved) return MPEG_ERR_RESERVED_FIELD;
        return MPEG_ERR_NO_FRAMES;
    }
    source_ = std::move(source);
    layout_ = layout;
    index_ = std::move(index);
    // A count of more frames than the audio area holds (at the stream's
    // smallest frame) is wrong, and one of a file more than a 16th smaller
    // than this one is another's (the first part's of a joined file): the
    // size tells better.
    const InfoFrame& info = index_.Info;
    const uint64_t area = layout_.AudioEnd - index_.Offset(0), size = source_->Size();
    const bool joined = info.Bytes > 0 && size > uint64_t(info.Bytes) && size - uint64_t(info.Bytes) > uint64_t(info.Bytes) / 16;
    if (info.Frames > 0 && uint64_t(info.Frames) <= area / SmallestFrameBytes(index_.First) && !joined) infoFrames_ = info.Frames;
    if (info.Gapless) {
        const uint32_t decoderDelay = index_.First.Layer == 3 ? kLayer3DecoderDelay : 0;
        skipStart_ = uint64_t(info.EncoderDelay) + decoderDelay;
        trimEnd_ = info.EncoderPadding > decoderDelay ? info.EncoderPadding - decoderDelay : 0;
    }
    return MPEG_OK;
}

void MpegFile::Clear() {
    Close();
    source_.reset();
    layout_ = StreamLayout{};
    index_ = FrameIndex{};
    infoFrames_ = -1;
    skipStart_ = trimEnd_ = 0;
    closedPosition_ = 0;
    closedSample_ = 0;
}

int32_t MpegFile::Need(size_t count) {
    if (index_.Count() >= count || index_.Complete()) return MPEG_OK;
    return index_.Extend(*source_, count) ? MPEG_OK : MPEG_ERR_READ;
}

int32_t MpegFile::Frames() const {
    const size_t count = index_.Count();
    if (index_.Complete() || count == 0) return int32_t(std::min<size_t>(count, INT32_MAX));
    int64_t frames = infoFrames_;
    if (frames < 0) {
        // Exact for a constant rate (the padding's share included); a
        // free-format stream's frames are its length and a slot at most.
        const FrameHeader& h = index_.First;
        const double averageBytes = h.FreeBytes ? double(h.FreeBytes) : h.SamplesPerFrame() / 8.0 * h.BitRateKbps * 1000.0 / h.SampleRate;
        frames = std::llround(double(layout_.AudioEnd - index_.Offset(0)) / std::max(averageBytes, 1.0));
    }
    return int32_t(std::clamp<int64_t>(std::max<int64_t>(frames, int64_t(count)), 0, INT32_MAX));
}

double MpegFile::MsPerFrame() const {
    const FrameHeader& h = index_.First;
    return h.SampleRate ? h.SamplesPerFrame() * 1000.0 / h.SampleRate : 0.0;
}

int32_t MpegFile::PlayTimeMs() const {
    return int32_t(std::min<int64_t>(std::llround(double(Frames()) * MsPerFrame()), INT32_MAX));
}

int32_t MpegFile::AverageKbps(uint32_t first, uint32_t count) const {
    count = uint32_t(std::min<uint64_t>(count, index_.Count() - std::min<uint64_t>(first, index_.Count())));
    if (count == 0) return 0;
    uint64_t bytes = 0;
    for (uint32_t i = first; i < first + count; ++i) bytes += index_.Size(i);
    const double seconds = double(count) * index_.First.SamplesPerFrame() / index_.First.SampleRate;
    return int32_t(std::lround(double(bytes) * 8 / seconds / 1000));
}

std::pair<uint64_t, uint64_t> MpegFile::Hole() const {
    if (infoFrames_ < 0) return {UINT64_MAX, UINT64_MAX};
    const uint64_t end = uint64_t(infoFrames_) * SamplesPerFrame();
    // Never into the samples skipped at the start.
    const uint64_t first = std::max(end - std::min(trimEnd_, end), skipStart_);
    return {first, std::max(end, first)};
}

uint64_t MpegFile::RawOf(uint64_t sample) const {
    const auto [first, second] = Hole();
    const uint64_t raw = sample + skipStart_;
    return raw < first ? raw : raw + (second - first);
}

uint64_t MpegFile::StreamBefore(uint64_t raw) const {
    if (raw <= skipStart_) return 0;
    const auto [first, second] = Hole();
    uint64_t samples = raw - skipStart_;
    if (raw > first) samples -= std::min(raw, second) - first;
    return samples;
}

uint64_t MpegFile::Length() const { return StreamBefore(uint64_t(Frames()) * SamplesPerFrame()); }

int MpegFile::OutChannels() const noexcept { return SourceChannels() == 2 && mode_ == OutputMode::Both ? 2 : 1; }

int32_t MpegFile::Position() const {
    if (Empty()) return 0;
    if (!open_) return int32_t(closedPosition_);
    if (done_) return Frames();
    return int32_t(std::min<uint64_t>(position_ / SamplesPerFrame(), uint64_t(Frames())));
}

bool MpegFile::Done() const {
    if (Empty()) return true;
    return open_ ? done_ : closedPosition_ >= uint32_t(Frames());
}

int32_t MpegFile::SeekFrame(int64_t frame) {
    if (Empty()) return MPEG_ERR_NO_FILE;
    if (frame < 0) return MPEG_ERR_POSITION;
    // A count too low (the information frame's, say) is no reason to refuse.
    if (frame > Frames() && Need(size_t(std::min<int64_t>(frame, INT32_MAX))) != MPEG_OK) return MPEG_ERR_READ;
    if (frame > Frames()) return MPEG_ERR_POSITION;
    if (!open_) {
        closedPosition_ = uint32_t(frame);
        closedSample_ = uint64_t(frame) * SamplesPerFrame();
        return MPEG_OK;
    }
    return StartAt(uint64_t(frame) * SamplesPerFrame());
}

int32_t MpegFile::SeekSample(uint64_t sample) {
    if (Empty()) return MPEG_ERR_NO_FILE;
    if (sample > Length() && Need(size_t(std::min<uint64_t>(RawOf(sample) / SamplesPerFrame() + 1, INT32_MAX))) != MPEG_OK) return MPEG_ERR_READ;
    if (sample > Length()) return MPEG_ERR_POSITION;
    if (!open_) {
        closedSample_ = sample;
        closedPosition_ = uint32_t(sample / SamplesPerFrame());
        return MPEG_OK;
    }
    return StartAt(sample);
}

int32_t MpegFile::Rewind() {
    if (!open_) return MPEG_ERR_NOT_OPEN;
    return StartAt(0);
}

void MpegFile::PlaceClosed(uint32_t frame, uint64_t sample) {
    if (open_ || Empty()) return;
    closedPosition_ = std::min(frame, uint32_t(Frames()));
    closedSample_ = std::min(sample, Length());
}

// The frame a seek starts decoding at so that frame `frame` comes out as a
// decode from the start gives it.
uint32_t MpegFile::PreRollStart(uint32_t frame) const {
    uint32_t start = frame > kSettleFrames ? frame - kSettleFrames : 0;
    if (index_.First.Layer == 3) {
        uint64_t bytes = 0;
        while (start > 0 && bytes < kReservoirBytes) {
            const uint32_t size = index_.Size(--start);
            bytes += size > kFrameOverheadBytes ? size - kFrameOverheadBytes : 0;
        }
    }
    const uint32_t period = kSynthesisRingSamples / std::gcd(SamplesPerFrame(), kSynthesisRingSamples);
    return start / period * period;
}

// Starts decoding so that the next sample delivered is the stream's sample
// `sample` (at most its length).
int32_t MpegFile::StartAt(uint64_t sample) {
    if (!codec_) codec_ = MakeFrameDecoder();
    int32_t status = codec_->Start(index_.First);
    if (status != MPEG_OK) return status;
    status = Need(size_t(std::min<uint64_t>(RawOf(sample) / SamplesPerFrame() + 1, SIZE_MAX)));
    if (status != MPEG_OK) return status;
    if (index_.Complete()) sample = std::min(sample, Length());
    fifo_.clear();
    fifoAt_ = 0;
    position_ = sample;
    const uint64_t frame = RawOf(sample) / SamplesPerFrame();
    drained_ = done_ = frame >= index_.Count() || (index_.Complete() && sample >= Length());
    nextFrame_ = done_ ? uint32_t(index_.Count()) : PreRollStart(uint32_t(frame));
    rawNext_ = uint64_t(nextFrame_) * SamplesPerFrame();
    return MPEG_OK;
}

int32_t MpegFile::Open() {
    if (Empty()) return MPEG_ERR_NO_FILE;
    if (open_) return MPEG_OK;
    const int32_t status = StartAt(closedSample_);
    if (status != MPEG_OK) {
        codec_.reset();
        return status;
    }
    open_ = true;
    return MPEG_OK;
}

void MpegFile::Close() {
    if (!open_) return;
    closedPosition_ = uint32_t(Position());
    closedSample_ = position_;
    codec_.reset();
    fifo_.clear();
    fifoAt_ = 0;
    open_ = false;
}

// Hands the next frames to the decoder, or flushes it after the last.
int32_t MpegFile::DecodeMore() {
    if (fifoAt_ == fifo_.size()) {
        fifo_.clear();
        fifoAt_ = 0;
    }
    if (Need(size_t(nextFrame_) + kFramesPerBatch) != MPEG_OK) return MPEG_ERR_READ;
    const size_t frames = index_.Count();
    if (nextFrame_ >= frames) {
        drained_ = true;
        return codec_->Finish(fifo_);
    }
    const uint32_t taken = uint32_t(std::min<size_t>(frames - nextFrame_, kFramesPerBatch));
    batch_.resize(kBatchBytes);
    sizes_.resize(taken);
    size_t used = 0;
    for (uint32_t k = 0; k < taken; ++k) {
        const uint32_t size = index_.Size(nextFrame_ + k);
        if (source_->Read(index_.Offset(nextFrame_ + k), std::span<uint8_t>(batch_.data() + used, size)) != int64_t(size)) return MPEG_ERR_READ;
        sizes_[k] = uint16_t(size);
        used += size;
    }
    nextFrame_ += taken;
    return codec_->Decode(std::span<const uint8_t>(batch_.data(), used), sizes_, fifo_);
}

// Decoded sample frames waiting in the fifo.
size_t MpegFile::Available() const noexcept { return (fifo_.size() - fifoAt_) / size_t(SourceChannels()); }

// Drops decoded samples that come before the position: a seek's pre-roll,
// and the padding the stream leaves out.
void MpegFile::SkipToPosition() {
    const uint64_t target = RawOf(position_);
    if (rawNext_ >= target) return;
    const uint64_t drop = std::min<uint64_t>(target - rawNext_, Available());
    fifoAt_ += size_t(drop) * size_t(SourceChannels());
    rawNext_ += drop;
}

// Sample frames left before the stream's end, once the end is known.
uint64_t MpegFile::Left() const {
    if (!index_.Complete()) return UINT64_MAX;
    return Length() - std::min(position_, Length());
}

// Copies delivered samples out in the output channel layout.
void MpegFile::Deliver(uint8_t* out, uint32_t frames) {
    const int in = SourceChannels();
    const int outCh = OutChannels();
    const int16_t* s = fifo_.data() + fifoAt_;
    if (in == outCh) {
        std::memcpy(out, s, size_t(frames) * size_t(in) * 2);
    } else {
        int16_t value[2];
        for (uint32_t i = 0; i < frames; ++i, s += in) {
            if (in == 1 || mode_ == OutputMode::Both) {
                value[0] = s[0];
                value[1] = in == 2 ? s[1] : 0;
            } else if (mode_ == OutputMode::Left) {
                value[0] = s[0];
            } else if (mode_ == OutputMode::Right) {
                value[0] = s[1];
            } else {
                value[0] = int16_t((int32_t(s[0]) + s[1]) / 2);
            }
            std::memcpy(out + size_t(i) * size_t(outCh) * 2, value, size_t(outCh) * 2);
        }
    }
    fifoAt_ += size_t(frames) * size_t(in);
    rawNext_ += frames;
    position_ += frames;
}

int32_t MpegFile::Read(void* buffer, int32_t count, int32_t* frameOut) {
    if (!open_) return -MPEG_ERR_NOT_OPEN;
    if (!buffer || count < 0) return -MPEG_ERR_ARGUMENT;
    // An abort ends the read in progress only: one that came before this
    // read (or after the last read's end) is spent.
    abort_.store(false, std::memory_order_relaxed);
    uint8_t* out = static_cast<uint8_t*>(buffer);
    const uint32_t block = uint32_t(OutChannels()) * 2;
    uint32_t wanted = uint32_t(count) / block;
    int32_t written = 0;
    while (wanted > 0 && !abort_.load(std::memory_order_relaxed)) {
        SkipToPosition();
        // Never past the stream's end, which may come before the decoder's.
        const uint64_t left = Left();
        if (left == 0) break;
        const size_t available = Available();
        if (available > 0) {
            // Up to the padding, which the next turn skips.
            const auto [hole, holeEnd] = Hole();
            const uint64_t beforeHole = rawNext_ < hole ? hole - rawNext_ : UINT64_MAX;
            const uint32_t now = uint32_t(std::min({uint64_t(available), uint64_t(wanted), left, beforeHole}));
            Deliver(out + written, now);
            written += int32_t(now * block);
            wanted -= now;
            continue;
        }
        if (drained_) break;
        const int32_t status = DecodeMore();
        if (status != MPEG_OK) return -status;
    }
    // With every frame handed in and nothing left to deliver, flush now: the
    // read that returns the last sample must be the one that says so.
    while (!drained_ && Left() > 0 && (SkipToPosition(), Available() == 0)) {
        if (Need(size_t(nextFrame_) + 1) != MPEG_OK) return -MPEG_ERR_READ;
        if (nextFrame_ < index_.Count()) break;
        const int32_t status = DecodeMore();
        if (status != MPEG_OK) return -status;
    }
    SkipToPosition();
    done_ = Left() == 0 || (drained_ && Available() == 0);
    if (frameOut) *frameOut = Position();
    return written;
}

}  // namespace mpegdec
