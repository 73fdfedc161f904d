// The file layer of MMMPEG32.DLL without the system: one MPEG audio file
// read through a ByteSource and a cache, its frame index grown as far as
// reads and seeks need it, its frame count and play time, the gapless
// trimming, positioning, and reads of 16-bit PCM in the output channel
// layout through the decoding step (FrameDecoder.h). MMMPEG32.cpp puts the
// system's files, the handles and the entry points around it; the native
// fuzz target runs it over bytes in memory.
//
// Positions: the stream is the decoder's raw output (frame f's samples are
// the raw samples [f * n, (f + 1) * n), n samples per frame) less the
// encoder's delay with layer III's decoder delay at the start, and less the
// encoder's padding where the information frame's count puts its end: at
// the end of the file as the encoder wrote it, and nowhere in a file cut
// before it (or, with frames added after it, in the middle), as the
// converter decodes. Without a count, or with one the file cannot be
// meant by (more frames than its audio area holds, or a file more than a
// 16th larger than the size the information frame gives: a joined file),
// no padding is cut. Stream samples count from 0; the frame position is
// the stream sample over n.
//
// Threads: one call at a time (the library's claim on its handle sees to
// it), but Abort, which may come from any thread: it ends the read in
// progress, which returns what it has; a read that starts later is not
// touched by it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "mpegdec/FrameDecoder.h"
#include "mpegdec/MpegStream.h"

namespace mpegdec {

// A ByteSource read through a cache: many frames per read of the source
// below, little memory. A read of a cache's size or more goes straight
// through.
class CachedSource final : public ByteSource {
public:
    static constexpr size_t kCacheBytes = 64 * 1024;
    explicit CachedSource(std::unique_ptr<ByteSource> source) : source_(std::move(source)) {}
    uint64_t Size() const override { return source_->Size(); }
    int64_t Read(uint64_t offset, std::span<uint8_t> out) override;

private:
    std::unique_ptr<ByteSource> source_;
    std::vector<uint8_t> cache_;
    uint64_t cacheAt_ = 0;
    size_t cacheBytes_ = 0;
};

// The output channels: as MpegChannelMode (MMMPEG32.h).
enum class OutputMode : uint8_t { Left = 0, Right = 1, Both = 2, DownMix = 3 };

class MpegFile {
public:
    // Takes a file: finds its audio area (from `offset`, or after an ID3v2
    // tag or in a WAVE file's "data" chunk; `trailingBytes` before its end or
    // ID3v1 tag) and indexes its first frames (a small file all of them).
    // MPEG_OK, or why not, and then the file is empty.
    int32_t Set(std::unique_ptr<ByteSource> source, uint64_t offset, uint32_t trailingBytes);
    // Forgets the file.
    void Clear();
    bool Empty() const noexcept { return !source_; }

    const FrameHeader& First() const noexcept { return index_.First; }
    const StreamLayout& Layout() const noexcept { return layout_; }
    bool VariableRate() const noexcept { return index_.Info.VariableRate; }
    uint64_t FileSize() const { return source_ ? source_->Size() : 0; }
    bool IndexComplete() const noexcept { return index_.Complete(); }
    // Indexes every frame: MPEG_OK or MPEG_ERR_READ.
    int32_t IndexAll() { return Need(SIZE_MAX); }

    // Audio frames: exact once the index is complete; before, the count the
    // information frame gives (unless the audio area cannot hold that many)
    // or the area over the first frame's average size, and never fewer than
    // indexed. At most INT32_MAX.
    int32_t Frames() const;
    double MsPerFrame() const;
    // Frames * MsPerFrame, rounded, at most INT32_MAX.
    int32_t PlayTimeMs() const;
    // The average bit rate over the indexed frames [first, first + count), kbit/s.
    int32_t AverageKbps(uint32_t first, uint32_t count) const;
    // Sample frames of the stream (an estimate until the index is complete).
    uint64_t Length() const;

    int SourceChannels() const noexcept { return index_.First.Channels(); }
    int OutChannels() const noexcept;
    // Takes effect at once: the caller refuses it while the file is open.
    void SetOutputMode(OutputMode mode) noexcept { mode_ = mode; }

    int32_t Open();
    void Close();
    bool IsOpen() const noexcept { return open_; }
    // Positions at frame `frame` (0 to Frames(), indexing on to find it
    // before refusing it) or at a sample of the stream; open or closed.
    int32_t SeekFrame(int64_t frame);
    int32_t SeekSample(uint64_t sample);
    // Back to the start of an open file.
    int32_t Rewind();
    // Places a closed file at this frame and sample (clamped to the file).
    void PlaceClosed(uint32_t frame, uint64_t sample);
    // The frame the next sample lies in (Frames() at the end), and the sample.
    int32_t Position() const;
    uint64_t SamplePosition() const noexcept { return open_ ? position_ : closedSample_; }
    // The end has been reached (closed: the position is at the end).
    bool Done() const;
    // Reads up to `count` bytes of PCM: the bytes written, or minus a status.
    // The frame position after it in *frame when asked.
    int32_t Read(void* buffer, int32_t count, int32_t* frame);
    // From any thread: the read in progress returns what it has.
    void Abort() noexcept { abort_.store(true, std::memory_order_relaxed); }

private:
    uint32_t SamplesPerFrame() const noexcept { return uint32_t(index_.First.SamplesPerFrame()); }
    int32_t Need(size_t count);
    // The raw samples [first, second) that the stream leaves out as padding.
    std::pair<uint64_t, uint64_t> Hole() const;
    uint64_t RawOf(uint64_t sample) const;
    uint64_t StreamBefore(uint64_t raw) const;
    int32_t StartAt(uint64_t sample);
    uint32_t PreRollStart(uint32_t frame) const;
    int32_t DecodeMore();
    size_t Available() const noexcept;
    void SkipToPosition();
    uint64_t Left() const;
    void Deliver(uint8_t* out, uint32_t frames);

    std::unique_ptr<CachedSource> source_;
    StreamLayout layout_;
    FrameIndex index_;
    int64_t infoFrames_ = -1;   // the information frame's count, when the file can be meant by it
    uint64_t skipStart_ = 0;    // raw samples before the stream: encoder delay and decoder delay
    uint64_t trimEnd_ = 0;      // raw samples of padding before the counted end
    OutputMode mode_ = OutputMode::Both;

    bool open_ = false;
    std::unique_ptr<FrameDecoder> codec_;
    std::vector<uint8_t> batch_;     // the frames of one decoding call
    std::vector<uint16_t> sizes_;    // and their sizes
    uint32_t nextFrame_ = 0;         // the next frame to hand to the decoder
    std::vector<int16_t> fifo_;      // decoded, not yet delivered samples (source channels)
    size_t fifoAt_ = 0;              // first undelivered sample in fifo_
    uint64_t rawNext_ = 0;           // the raw sample at fifoAt_
    uint64_t position_ = 0;          // the stream's sample delivered next
    bool drained_ = false;           // the decoder has been flushed: fifo_ holds the rest
    bool done_ = false;
    uint32_t closedPosition_ = 0;    // where an open starts: a frame, and the same place as a sample
    uint64_t closedSample_ = 0;
    std::atomic<bool> abort_{false};
};

}  // namespace mpegdec
