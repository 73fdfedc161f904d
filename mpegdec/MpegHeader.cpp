// The one frame header parser: the decoder reads each frame's header with
// it, and the stream parser takes rates, frame sizes and frame lengths from
// it too.
#include "mpegdec/MpegDecoder.h"
#include "mpegdec/MpegTables.h"

namespace mpegaudio {

HeaderResult ParseHeader(const uint8_t* data, size_t size, FrameHeader& h) {
    if (size < 4) return HeaderResult::tooShort;
    const uint32_t word = uint32_t(data[0]) << 24 | uint32_t(data[1]) << 16 | uint32_t(data[2]) << 8 | data[3];
    if ((word >> 21) != 0x7FF) return HeaderResult::noSync;
    switch ((word >> 19) & 3) {
    case 0: h.version = MpegVersion::mpeg25; break;
    case 2: h.version = MpegVersion::mpeg2; break;
    case 3: h.version = MpegVersion::mpeg1; break;
    default: return HeaderResult::badVersion;
    }
    const int layerBits = int((word >> 17) & 3);
    if (layerBits == 0) return HeaderResult::badLayer;
    h.layer = 4 - layerBits;
    h.crc = ((word >> 16) & 1) == 0;
    h.bitrateIndex = int((word >> 12) & 15);
    if (h.bitrateIndex == 0 || h.bitrateIndex == 15) return HeaderResult::badBitrate;
    h.sampleRateIndex = int((word >> 10) & 3);
    if (h.sampleRateIndex == 3) return HeaderResult::badSampleRate;
    h.padding = ((word >> 9) & 1) != 0;
    h.mode = int((word >> 6) & 3);
    h.modeExtension = int((word >> 4) & 3);
    h.channels = h.mode == 3 ? 1 : 2;
    const bool mpeg1 = h.version == MpegVersion::mpeg1;
    h.bitrateKbps = kBitrates[mpeg1 ? 0 : 1][h.layer - 1][h.bitrateIndex];
    h.sampleRate = kSampleRates[int(h.version)][h.sampleRateIndex];
    const int64_t bitrate = int64_t(h.bitrateKbps) * 1000;
    if (h.layer == 1) {
        h.frameBytes = int((12 * bitrate / h.sampleRate + (h.padding ? 1 : 0)) * 4);
        h.samplesPerFrame = 384;
    } else if (h.layer == 2 || mpeg1) {
        h.frameBytes = int(144 * bitrate / h.sampleRate + (h.padding ? 1 : 0));
        h.samplesPerFrame = 1152;
    } else {
        h.frameBytes = int(72 * bitrate / h.sampleRate + (h.padding ? 1 : 0));
        h.samplesPerFrame = 576;
    }
    return HeaderResult::ok;
}

}  // namespace mpegaudio
