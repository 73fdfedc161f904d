// The ADPCM converter: a chain component between a wave source and a PCM
// sink. It recognises a compressed input format, announces a PCM output
// format downstream, pulls compressed data from upstream in fixed chunks,
// decodes each chunk and hands the PCM on. Every other format, and all data
// while disabled, passes through unchanged.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "media/codecs/MMADPCM.h"
#include "media/playback/MMDSPObj.h"

enum TMMBitLength { b8Bit, b16Bit };

class TMMADPCMConverter : public TMMDSPComponent {
public:
    explicit TMMADPCMConverter(wc::TComponent* owner);
    ~TMMADPCMConverter() override;
    static const char* ClassName() { return "TMMADPCMConverter"; }

    bool Enabled() const noexcept { return enabled_; }
    void SetEnabled(bool value);
    TMMBitLength BitLength() const noexcept { return bitLength_; }
    void SetBitLength(TMMBitLength value);

    // The input is compressed and this component is enabled.
    bool NeedsConversion() const noexcept { return needsConversion_; }
    // ... and a PCM output format was found for it.
    bool CanConvert() const noexcept { return canConvert_.load(); }
    // Whether what arrives downstream is playable PCM as far as this
    // component can tell: no conversion needed, or one it can do.
    bool CanPlayInput() const noexcept { return !needsConversion_ || canConvert_.load(); }
    // The format announced by the upstream component, or null.
    const WAVEFORMATEX* InputFormat() const noexcept { return inputFormat_.get(); }

    bool PublishesInput() const override { return true; }
    bool PublishesOutput() const override { return true; }

    // The output format is this component's own choice: set from outside, ignored.
    void SetPWaveFormat(const WAVEFORMATEX* format) override;
    // The upstream component announces its format.
    void FormatChanged(const WAVEFORMATEX* format) override;
    void Loaded() override;
    bool SetProperty(const std::string& name, const wc::LayoutValue& value) override;

    void Opened() override;
    void Closed() override;
    void Started() override;
    void Stopped() override;
    void Rewound() override;

    void BufferLoad(WaveHdrEx* header, bool& moreBuffers) override;

    // Bytes of compressed data pulled from upstream per decode.
    static constexpr uint32_t InputChunkSize = 4096;

private:
    void RecomputeFormats();
    void Prepare();
    void StartConversion();
    void StopConversion();
    void Release();
    // Decodes the input buffer's first `bytes` bytes; the PCM bytes written.
    uint32_t DecodeChunk(uint32_t bytes);

    bool enabled_ = true;
    TMMBitLength bitLength_ = b16Bit;
    WaveFormatBuffer inputFormat_;
    WaveFormatBuffer outputFormat_;
    bool needsConversion_ = false;
    // Cleared from the pulling thread when a chunk fails to decode.
    std::atomic<bool> canConvert_{false};

    // Opened and started are set on the user-interface thread; the pull runs
    // on the device's worker and leaves as soon as it sees a stop.
    std::atomic<bool> opened_{false};
    std::atomic<bool> started_{false};
    bool inputEnd_ = false;
    bool upstreamMore_ = false;
    std::vector<uint8_t> inputBuffer_;
    std::vector<uint8_t> outputBuffer_;
    uint32_t decodedLength_ = 0;
    uint32_t readPosition_ = 0;
    NibbleCodecState codecState_{};
};
