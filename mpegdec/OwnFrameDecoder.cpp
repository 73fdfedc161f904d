// The decoding step through our own decoder (MpegDecoder.h): frames in,
// PCM out at once, nothing held back. A frame it cannot decode still gives
// its frame of silence; a frame whose channel count differs from the
// stream's first is folded to it (left kept, or mono doubled), as the
// library's channel count holds for the whole stream.
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
        channels_ = first.Channels();
        samplesPerFrame_ = first.SamplesPerFrame();
        return MPEG_OK;
    }

    int32_t Decode(std::span<const uint8_t> frames, std::vector<int16_t>& out) override {
        size_t pos = 0;
        while (pos + 4 <= frames.size()) {
            int samples = 0;
            const mpegaudio::DecodeResult result = decoder_.DecodeFrame(frames.data() + pos, frames.size() - pos, pcm_, samples);
            const mpegaudio::FrameHeader& h = decoder_.LastHeader();
            if (result == mpegaudio::DecodeResult::badHeader || result == mpegaudio::DecodeResult::truncated) {
                // Not a whole frame where the library's index put one.
                out.insert(out.end(), size_t(samplesPerFrame_) * size_t(channels_), int16_t(0));
                return MPEG_OK;
            }
            Append(samples, h.channels, out);
            pos += size_t(h.frameBytes);
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
