// The decoding step through our own decoder (MpegDecoder.h): frames in,
// PCM out at once, nothing held back. Frames are taken one by one at the
// sizes the frame index gives, and a free-format stream's frame length is
// the index's, never looked for again. A frame it cannot decode still gives
// its frame of silence, and the next frame is decoded all the same; a frame
// whose channel count differs from the stream's first is folded to it (left
// kept, or mono doubled), as the library's channel count holds for the
// whole stream.
//
// Threads: used by one decoder instance, on the thread of its reads.
#include <algorithm>

#include "mpegdec/FrameDecoder.h"
#include "mpegdec/MpegDecoder.h"
#include "mpegdec/MpegStatus.h"

namespace mpegdec {
namespace {

class OwnFrameDecoder final : public FrameDecoder {
public:
    int32_t Start(const FrameHeader& first) override {
        decoder_.Reset();
        decoder_.SetFreeFormatBytes(int(first.FreeBytes));
        channels_ = first.Channels();
        samplesPerFrame_ = first.SamplesPerFrame();
        return MPEG_OK;
    }

    int32_t Decode(std::span<const uint8_t> frames, std::span<const uint16_t> sizes, std::vector<int16_t>& out) override {
        size_t pos = 0;
        for (const uint16_t size : sizes) {
            if (pos + size > frames.size()) break;
            int samples = 0;
            const mpegaudio::DecodeResult result = decoder_.DecodeFrame(frames.data() + pos, size, pcm_, samples);
            pos += size;
            const mpegaudio::FrameHeader& h = decoder_.LastHeader();
            if (result == mpegaudio::DecodeResult::badHeader || result == mpegaudio::DecodeResult::truncated ||
                samples != samplesPerFrame_) {
                // Not a whole frame of the stream where the index put one.
                out.insert(out.end(), size_t(samplesPerFrame_) * size_t(channels_), int16_t(0));
                continue;
            }
            Append(samples, h.channels, out);
        }
        return MPEG_OK;
    }

    int32_t Finish(std::vector<int16_t>&) override { return MPEG_OK; }

private:
    void Append(int samples, int channels, std::vector<int16_t>& out) {
        if (channels == channels_) {
            out.insert(out.end(), pcm_, pcm_ + samples * channels);
            return;
        }
        for (int i = 0; i < samples; ++i) {
            if (channels_ == 1) {
                out.push_back(pcm_[2 * i]);
            } else {
                out.push_back(pcm_[i]);
                out.push_back(pcm_[i]);
            }
        }
    }

    mpegaudio::MpegDecoder decoder_;
    int channels_ = 2;
    int samplesPerFrame_ = 1152;
    int16_t pcm_[mpegaudio::kMaxFrameSamples * 2] = {};
};

}  // namespace

std::unique_ptr<FrameDecoder> MakeFrameDecoder() { return std::make_unique<OwnFrameDecoder>(); }

}  // namespace mpegdec
