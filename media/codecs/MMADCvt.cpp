#include "media/codecs/MMADCvt.h"

#include <algorithm>
#include <cstring>

#include "media/MMErrors.h"
#include "media/codecs/MMPCMSup.h"

namespace {

constexpr WORD kTagMSADPCM = 0x0002;
constexpr WORD kTagMediavision = 0x0003;
constexpr WORD kTagAntex = 0x0033;
constexpr WORD kTagAntexDviOki = 0x0206;

bool IsNibbleTag(WORD tag) { return tag == kTagMediavision || tag == kTagAntex || tag == kTagAntexDviOki; }

// Every input byte of a nibble format gives two 16-bit samples.
constexpr uint32_t kNibbleExpansion = 4;

// Room for the PCM format ADPCMSuggestFormat writes (18 bytes).
constexpr uint32_t kSuggestRoom = 64;

}  // namespace

TMMADPCMConverter::TMMADPCMConverter(wc::TComponent* owner) : TMMDSPComponent(owner) {}

TMMADPCMConverter::~TMMADPCMConverter() {
    Release();
    DetachFromChain();
}

void TMMADPCMConverter::SetEnabled(bool value) {
    if (value == enabled_) return;
    enabled_ = value;
    RecomputeFormats();
}

void TMMADPCMConverter::SetBitLength(TMMBitLength value) {
    if (value == bitLength_) return;
    bitLength_ = value;
    RecomputeFormats();
}

bool TMMADPCMConverter::SetProperty(const std::string& name, const wc::LayoutValue& value) {
    if (name == "Enabled") {
        SetEnabled(value.AsBoolean());
    } else if (name == "BitLength") {
        SetBitLength(static_cast<TMMBitLength>(wc::LayoutEnum(value, {"b8Bit", "b16Bit"})));
    } else {
        return TMMDSPComponent::SetProperty(name, value);
    }
    return true;
}

void TMMADPCMConverter::Loaded() {
    TMMDSPComponent::Loaded();
    RecomputeFormats();
}

void TMMADPCMConverter::SetPWaveFormat(const WAVEFORMATEX*) {}

void TMMADPCMConverter::FormatChanged(const WAVEFORMATEX* format) {
    if (format == inputFormat_.get()) return;
    inputFormat_ = WaveCopyFormat(format);
    RecomputeFormats();
}

void TMMADPCMConverter::RecomputeFormats() {
    needsConversion_ = false;
    canConvert_ = false;
    outputFormat_ = WaveFormatBuffer();
    const WAVEFORMATEX* input = inputFormat_.get();
    if (input && enabled_ && input->wFormatTag != WAVE_FORMAT_PCM) {
        needsConversion_ = true;
        const int bits = (static_cast<int>(bitLength_) + 1) * 8;
        if (input->wFormatTag == kTagMSADPCM) {
            uint8_t room[kSuggestRoom] = {};
            auto* suggested = reinterpret_cast<WAVEFORMATEX*>(room);
            if (ADPCMSuggestFormat(input, suggested, sizeof room, bits, input->nChannels,
                                   static_cast<int>(input->nSamplesPerSec)) &&
                MSADPCMDecodedSize(input, suggested, input->nBlockAlign) > 0)
                outputFormat_ = WaveCopyFormat(suggested);
        } else if (IsNibbleTag(input->wFormatTag)) {
            // The nibble decoders handle mono and stereo only; a corrupt rate
            // would give a format no device can open.
            if ((input->nChannels == 1 || input->nChannels == 2) && input->nSamplesPerSec > 0) {
                const WAVEFORMATEX pcm = WavePCMFormat(input->nChannels, static_cast<uint16_t>(bits), input->nSamplesPerSec);
                outputFormat_ = WaveCopyFormat(&pcm);
            }
        }
    }
    if (outputFormat_ && outputFormat_->wFormatTag == WAVE_FORMAT_PCM) {
        canConvert_ = true;
        TMMDSPComponent::SetPWaveFormat(outputFormat_.get());
    } else {
        TMMDSPComponent::SetPWaveFormat(inputFormat_.get());
    }
}

void TMMADPCMConverter::Prepare() {
    if (opened_) return;
    if (enabled_ && needsConversion_) {
        if (!canConvert_) RaiseMMError<EMMADPCMError>(MMMsg::UnableToConvertFormat);
        const WAVEFORMATEX* input = inputFormat_.get();
        uint32_t inputSize = InputChunkSize;
        uint32_t outputSize = InputChunkSize * kNibbleExpansion;
        if (input->wFormatTag == kTagMSADPCM) {
            // Whole blocks per chunk, so no block is ever cut between two
            // pulls; at least one, for blocks larger than the chunk.
            const uint32_t align = input->nBlockAlign;
            inputSize = std::max<uint32_t>(1, InputChunkSize / align) * align;
            outputSize = MSADPCMDecodedSize(input, outputFormat_.get(), inputSize);
            if (outputSize == 0) RaiseMMError<EMMADPCMError>(MMMsg::UnableToConvertFormat);
        }
        inputBuffer_.assign(inputSize, 0);
        outputBuffer_.assign(outputSize, 0);
    }
    opened_ = true;
}

void TMMADPCMConverter::StartConversion() {
    if (!opened_ || started_) return;
    upstreamMore_ = false;
    inputEnd_ = false;
    decodedLength_ = 0;
    readPosition_ = 0;
    codecState_ = NibbleCodecState{};
    started_ = true;
}

void TMMADPCMConverter::StopConversion() {
    if (!started_) return;
    started_ = false;
    readPosition_ = decodedLength_;
}

void TMMADPCMConverter::Release() {
    if (!opened_) return;
    StopConversion();
    opened_ = false;
    std::vector<uint8_t>().swap(inputBuffer_);
    std::vector<uint8_t>().swap(outputBuffer_);
    decodedLength_ = 0;
    readPosition_ = 0;
}

void TMMADPCMConverter::Opened() {
    Prepare();
    TMMDSPComponent::Opened();
}

void TMMADPCMConverter::Closed() {
    Release();
    TMMDSPComponent::Closed();
}

void TMMADPCMConverter::Started() {
    TMMDSPComponent::Started();
    StartConversion();
}

void TMMADPCMConverter::Stopped() {
    StopConversion();
    TMMDSPComponent::Stopped();
}

void TMMADPCMConverter::Rewound() {
    TMMDSPComponent::Rewound();
    readPosition_ = decodedLength_;
    codecState_ = NibbleCodecState{};
}

uint32_t TMMADPCMConverter::DecodeChunk(uint32_t bytes) {
    const WAVEFORMATEX* input = inputFormat_.get();
    const uint8_t* in = inputBuffer_.data();
    uint8_t* out = outputBuffer_.data();
    if (input->wFormatTag == kTagMSADPCM)
        return DecodeMSADPCM(input, outputFormat_.get(), in, bytes, out, static_cast<uint32_t>(outputBuffer_.size()));

    uint32_t result = 0;
    const bool stereo = input->nChannels == 2;
    if (input->nChannels == 1 || stereo) {
        if (input->wFormatTag == kTagMediavision)
            result = stereo ? DecodeTag3Stereo(codecState_, bytes, in, out) : DecodeTag3Mono(codecState_, bytes, in, out);
        else
            result = stereo ? DecodeAntexStereo(codecState_, bytes, in, out) : DecodeAntexMono(codecState_, bytes, in, out);
    }
    if (result > 0 && bitLength_ == b8Bit) result = PCMConvertBits(8, out, 16, out, result);
    return result;
}

void TMMADPCMConverter::BufferLoad(WaveHdrEx* header, bool& moreBuffers) {
    if (!opened_ || !started_ || !enabled_) {
        TMMDSPComponent::BufferLoad(header, moreBuffers);
        return;
    }
    if (!Input()) return;

    header->wh.dwBytesRecorded = 0;
    int64_t remaining = header->wh.dwBufferLength;
    if (!needsConversion_ || !canConvert_) {
        TMMDSPComponent::BufferLoad(header, moreBuffers);
        return;
    }

    uint8_t* data = WaveHdrData(header);
    for (;;) {
        const uint32_t pending = decodedLength_ - readPosition_;
        if (pending > 0 && remaining > 0) {
            const uint32_t count = static_cast<uint32_t>(std::min<int64_t>(pending, remaining));
            std::memcpy(data + header->wh.dwBytesRecorded, outputBuffer_.data() + readPosition_, count);
            readPosition_ += count;
            header->wh.dwBytesRecorded += count;
            remaining -= count;
        }
        if (header->LoopMark != 0 || !started_ || remaining < 1) break;

        uint32_t read = 0;
        if (!inputEnd_) {
            WaveHdrEx request{};
            request.wh.lpData = reinterpret_cast<LPSTR>(inputBuffer_.data());
            request.wh.dwBufferLength = static_cast<DWORD>(inputBuffer_.size());
            request.LoopFlag = header->LoopFlag;
            request.LoopTotal = header->LoopTotal;
            request.LoopsLeft = header->LoopsLeft;
            request.LoopMark = header->LoopMark;
            upstreamMore_ = false;
            TMMDSPComponent::BufferLoad(&request, upstreamMore_);
            header->LoopFlag = request.LoopFlag;
            header->LoopTotal = request.LoopTotal;
            header->LoopsLeft = request.LoopsLeft;
            header->LoopMark = request.LoopMark;
            // A source cannot produce more than it was given room for.
            read = std::min<uint32_t>(request.wh.dwBytesRecorded, static_cast<uint32_t>(inputBuffer_.size()));
            if (!upstreamMore_ || read == 0) inputEnd_ = true;
        }
        if (read == 0 || !started_) break;

        const uint32_t result = DecodeChunk(read);
        if (result < 1) {
            if (inputEnd_) break;
            canConvert_ = false;
            return;
        }
        if (!started_) break;
        decodedLength_ = result;
        readPosition_ = 0;
    }
    moreBuffers = upstreamMore_ || decodedLength_ > readPosition_;
}
