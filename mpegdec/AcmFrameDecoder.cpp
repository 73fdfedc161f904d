// The decoding step through the system's audio compression manager: one
// conversion stream per file, fed whole frames. Whatever source bytes the
// codec leaves unused in a conversion are kept and handed to it again at
// the front of the next one; bytes still left after the end flush are an
// error, never dropped.
//
// Threads: used by one decoder instance, on the thread of its reads.
#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <msacm.h>

#include <algorithm>
#include <cstring>

#include "framework/Handles.h"
#include "mpegdec/FrameDecoder.h"
#include "mpegdec/MpegStatus.h"

// The library is linked to the codec manager itself: its stream owner
// closes through the linked acmStreamClose.
void AcmStreamCloseBound(HACMSTREAM stream) noexcept { ::acmStreamClose(stream, 0); }

namespace mpegdec {
namespace {

// The library hands at most one batch of frames per call; the codec may
// have left up to one batch unused before it.
constexpr size_t kSourceBytes = 2 * size_t(kFramesPerBatch) * kMaxFrameBytes;
// Decoded bytes of one conversion: a batch of 1152 stereo 16-bit samples per
// frame, doubled for a codec that hands a held-back frame out late.
constexpr size_t kOutputBytes = 2 * size_t(kFramesPerBatch) * 1152 * 2 * 2;
// Conversions of one call before a codec that keeps taking bytes without
// end is given up on.
constexpr int kMaxRounds = 64;

class AcmFrameDecoder final : public FrameDecoder {
public:
    ~AcmFrameDecoder() override { Close(); }

    int32_t Start(const FrameHeader& h) override {
        Close();
        WAVEFORMATEX pcm{WAVE_FORMAT_PCM, WORD(h.Channels()), DWORD(h.SampleRate), DWORD(h.SampleRate) * h.Channels() * 2,
                         WORD(h.Channels() * 2), 16, 0};
        const DWORD avgBytes = DWORD(h.BitRateKbps) * 1000 / 8;
        HACMSTREAM raw = nullptr;
        if (h.Layer == 3) {
            MPEGLAYER3WAVEFORMAT f{};
            f.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
            f.wfx.nChannels = WORD(h.Channels());
            f.wfx.nSamplesPerSec = DWORD(h.SampleRate);
            f.wfx.nAvgBytesPerSec = avgBytes;
            f.wfx.nBlockAlign = 1;
            f.wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
            f.wID = MPEGLAYER3_ID_MPEG;
            f.fdwFlags = MPEGLAYER3_FLAG_PADDING_ISO;
            f.nBlockSize = WORD(h.FrameBytes());
            f.nFramesPerBlock = 1;
            if (::acmStreamOpen(&raw, nullptr, &f.wfx, &pcm, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME) != 0)
                return MPEG_ERR_NO_LAYER3_CODEC;
        } else {
            MPEG1WAVEFORMAT f{};
            f.wfx.wFormatTag = WAVE_FORMAT_MPEG;
            f.wfx.nChannels = WORD(h.Channels());
            f.wfx.nSamplesPerSec = DWORD(h.SampleRate);
            f.wfx.nAvgBytesPerSec = avgBytes;
            f.wfx.nBlockAlign = WORD(h.FrameBytes());
            f.wfx.cbSize = sizeof f - sizeof f.wfx;
            f.fwHeadLayer = h.Layer == 1 ? ACM_MPEG_LAYER1 : ACM_MPEG_LAYER2;
            f.dwHeadBitrate = DWORD(h.BitRateKbps) * 1000;
            f.fwHeadMode = h.ModeBits == 0   ? ACM_MPEG_STEREO
                           : h.ModeBits == 1 ? ACM_MPEG_JOINTSTEREO
                           : h.ModeBits == 2 ? ACM_MPEG_DUALCHANNEL
                                             : ACM_MPEG_SINGLECHANNEL;
            f.fwHeadFlags = h.Version == MpegVersion::Mpeg1 ? ACM_MPEG_ID_MPEG1 : 0;
            if (::acmStreamOpen(&raw, nullptr, &f.wfx, &pcm, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME) != 0)
                return MPEG_ERR_NO_LAYER12_CODEC;
        }
        stream_.reset(raw);
        src_.assign(kSourceBytes, 0);
        dst_.assign(kOutputBytes, 0);
        pending_ = 0;
        header_ = ACMSTREAMHEADER{};
        header_.cbStruct = sizeof header_;
        header_.pbSrc = src_.data();
        header_.cbSrcLength = DWORD(src_.size());
        header_.pbDst = dst_.data();
        header_.cbDstLength = DWORD(dst_.size());
        if (::acmStreamPrepareHeader(stream_.get(), &header_, 0) != 0) {
            stream_.reset();
            return MPEG_ERR_DECODE;
        }
        prepared_ = true;
        return MPEG_OK;
    }

    int32_t Decode(std::span<const uint8_t> frames, std::vector<int16_t>& out) override {
        if (!prepared_ || frames.size() > src_.size() - pending_) return MPEG_ERR_DECODE;
        std::memcpy(src_.data() + pending_, frames.data(), frames.size());
        pending_ += frames.size();
        return Convert(0, out);
    }

    int32_t Finish(std::vector<int16_t>& out) override {
        if (!prepared_) return MPEG_ERR_DECODE;
        const int32_t status = Convert(ACM_STREAMCONVERTF_END, out);
        if (status != MPEG_OK) return status;
        // Frames the codec never took would be lost without a word.
        return pending_ == 0 ? MPEG_OK : MPEG_ERR_DECODE;
    }

private:
    // Converts until the codec has taken every pending byte, or takes and
    // gives nothing more (it waits for the rest of a frame).
    int32_t Convert(DWORD flags, std::vector<int16_t>& out) {
        for (int round = 0; round < kMaxRounds; ++round) {
            header_.cbSrcLength = DWORD(pending_);
            header_.cbDstLength = DWORD(dst_.size());
            header_.cbSrcLengthUsed = 0;
            header_.cbDstLengthUsed = 0;
            if (::acmStreamConvert(stream_.get(), &header_, flags) != 0) return MPEG_ERR_DECODE;
            const size_t used = std::min<size_t>(header_.cbSrcLengthUsed, pending_);
            const size_t produced = std::min<size_t>(header_.cbDstLengthUsed, dst_.size()) / 2;
            const auto* samples = reinterpret_cast<const int16_t*>(dst_.data());
            out.insert(out.end(), samples, samples + produced);
            std::memmove(src_.data(), src_.data() + used, pending_ - used);
            pending_ -= used;
            if (used == 0 && produced == 0) return MPEG_OK;
            // A full output buffer may have more behind it.
            if (pending_ == 0 && produced * 2 < dst_.size() && flags == 0) return MPEG_OK;
        }
        return MPEG_ERR_DECODE;
    }

    void Close() {
        if (prepared_) {
            header_.cbSrcLength = DWORD(src_.size());
            header_.cbDstLength = DWORD(dst_.size());
            ::acmStreamUnprepareHeader(stream_.get(), &header_, 0);
            prepared_ = false;
        }
        stream_.reset();
    }

    wc::AcmStreamHandle stream_;
    ACMSTREAMHEADER header_{};
    std::vector<uint8_t> src_;
    std::vector<uint8_t> dst_;
    size_t pending_ = 0;  // bytes at the front of src_ the codec has not taken yet
    bool prepared_ = false;
};

}  // namespace

std::unique_ptr<FrameDecoder> MakeFrameDecoder() { return std::make_unique<AcmFrameDecoder>(); }

}  // namespace mpegdec
