#include "AudioFixtures.h"

#include <mmreg.h>
#include <msacm.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

namespace testing_support {

WAVEFORMATEX PcmFormat(uint16_t channels, uint16_t bits, uint32_t rate) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = uint16_t(channels * bits / 8);
    f.nAvgBytesPerSec = f.nBlockAlign * rate;
    return f;
}

std::vector<uint8_t> Words(const std::vector<int>& samples) {
    std::vector<uint8_t> bytes;
    bytes.reserve(samples.size() * 2);
    for (int s : samples) {
        bytes.push_back(uint8_t(s));
        bytes.push_back(uint8_t(uint16_t(s) >> 8));
    }
    return bytes;
}

double SnrDb(const std::vector<int>& reference, const std::vector<int>& decoded) {
    double signal = 0, noise = 0;
    const size_t n = std::min(reference.size(), decoded.size());
    for (size_t i = 0; i < n; ++i) {
        signal += double(reference[i]) * reference[i];
        noise += double(reference[i] - decoded[i]) * (reference[i] - decoded[i]);
    }
    return 10 * std::log10(signal / std::max(noise, 1.0));
}

MSADPCMWaveFormat MsAdpcmFormat(uint16_t channels, uint16_t blockAlign, uint32_t rate) {
    MSADPCMWaveFormat f{};
    f.wfx.wFormatTag = 2;
    f.wfx.nChannels = channels;
    f.wfx.nSamplesPerSec = rate;
    f.wfx.nBlockAlign = blockAlign;
    f.wfx.wBitsPerSample = 4;
    f.wfx.cbSize = 32;
    f.samplesPerBlock = uint16_t((blockAlign - 7 * channels) * 2 / channels + 2);
    f.wfx.nAvgBytesPerSec = uint32_t(uint64_t(rate) * blockAlign / f.samplesPerBlock);
    f.numCoef = 7;
    std::memcpy(f.coef, MSADPCMCoefficients, sizeof f.coef);
    return f;
}

std::vector<uint8_t> RandomMsAdpcmBlocks(const MSADPCMWaveFormat& format, size_t blocks, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> data(size_t(format.wfx.nBlockAlign) * blocks);
    for (auto& b : data) b = uint8_t(random());
    const size_t channels = format.wfx.nChannels;
    for (size_t i = 0; i < blocks; ++i) {
        uint8_t* block = data.data() + i * format.wfx.nBlockAlign;
        for (size_t c = 0; c < channels; ++c) {
            block[c] = uint8_t(random() % 7);
            block[channels + 2 * c] = uint8_t(16 + random() % 200);
            block[channels + 2 * c + 1] = 0;
        }
    }
    return data;
}

std::vector<uint8_t> SystemCodecDecode(const std::vector<uint8_t>& fmtChunk, const std::vector<uint8_t>& data) {
    if (fmtChunk.size() < 16 || data.empty()) return {};
    HMODULE acm = ::LoadLibraryA("msacm32.dll");
    if (!acm) return {};
    const auto entry = [&](const char* name) { return reinterpret_cast<void*>(::GetProcAddress(acm, name)); };
    const auto open = reinterpret_cast<decltype(&::acmStreamOpen)>(entry("acmStreamOpen"));
    const auto size = reinterpret_cast<decltype(&::acmStreamSize)>(entry("acmStreamSize"));
    const auto prepare = reinterpret_cast<decltype(&::acmStreamPrepareHeader)>(entry("acmStreamPrepareHeader"));
    const auto convert = reinterpret_cast<decltype(&::acmStreamConvert)>(entry("acmStreamConvert"));
    const auto unprepare = reinterpret_cast<decltype(&::acmStreamUnprepareHeader)>(entry("acmStreamUnprepareHeader"));
    const auto close = reinterpret_cast<decltype(&::acmStreamClose)>(entry("acmStreamClose"));
    std::vector<uint8_t> format(fmtChunk);
    format.resize(std::max<size_t>(format.size(), sizeof(WAVEFORMATEX)));
    const auto* source = reinterpret_cast<WAVEFORMATEX*>(format.data());
    WAVEFORMATEX pcm = PcmFormat(source->nChannels, 16, source->nSamplesPerSec);
    std::vector<uint8_t> input(data), decoded;
    HACMSTREAM stream = nullptr;
    DWORD room = 0;
    if (open && size && prepare && convert && unprepare && close &&
        open(&stream, nullptr, reinterpret_cast<WAVEFORMATEX*>(format.data()), &pcm, nullptr, 0, 0,
             ACM_STREAMOPENF_NONREALTIME) == MMSYSERR_NOERROR) {
        if (size(stream, DWORD(input.size()), &room, ACM_STREAMSIZEF_SOURCE) == MMSYSERR_NOERROR) {
            decoded.resize(room);
            ACMSTREAMHEADER header{};
            header.cbStruct = sizeof header;
            header.pbSrc = input.data();
            header.cbSrcLength = DWORD(input.size());
            header.pbDst = decoded.data();
            header.cbDstLength = room;
            if (prepare(stream, &header, 0) == MMSYSERR_NOERROR &&
                convert(stream, &header, ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END) == MMSYSERR_NOERROR)
                decoded.resize(header.cbDstLengthUsed);
            else
                decoded.clear();
            unprepare(stream, &header, 0);
        }
        close(stream, 0);
    }
    ::FreeLibrary(acm);
    return decoded;
}

}  // namespace testing_support
