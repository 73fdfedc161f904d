// Wave format records: sizes, copies, unit conversions, names and descriptions.
#include "media/wave/MMWaveFormats.h"

#include <cstdio>
#include <cstring>
#include <limits>

#include "media/codecs/MMACM.h"

namespace {

constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t kInt64Min = std::numeric_limits<int64_t>::min();

uint32_t ClampToU32(int64_t value) {
    if (value < 0) return 0;
    if (value > int64_t(UINT32_MAX)) return UINT32_MAX;
    return uint32_t(value);
}

// Rounds up to whole blocks; a block of 0 bytes leaves the count alone.
int64_t RoundUpToBlock(int64_t bytes, uint16_t blockAlign) {
    if (blockAlign == 0 || bytes <= 0) return bytes;
    const int64_t rest = bytes % blockAlign;
    if (rest == 0) return bytes;
    if (bytes > kInt64Max - blockAlign) return bytes - rest;
    return bytes + (blockAlign - rest);
}

std::string Unknown() { return "Unknown"; }

// Process-wide, refreshed from the user's profile on every description.
char listSeparator = ',';
char decimalSeparator = '.';

char ProfileCharacter(const char* key, char current) {
    const char fallback[2] = {current, 0};
    char value[16] = {};
    ::GetProfileStringA("Intl", key, fallback, value, sizeof value);
    return value[0] ? value[0] : current;
}

}  // namespace

uint32_t WaveFormatSize(const WAVEFORMATEX* format) {
    if (!format) return 0;
    if (format->wFormatTag == WAVE_FORMAT_PCM) return sizeof(WAVEFORMATEX);
    return sizeof(WAVEFORMATEX) + format->cbSize;
}

WAVEFORMATEX WavePCMFormat(uint16_t channels, uint16_t bits, uint32_t rate) {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = channels;
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = bits;
    format.nBlockAlign = static_cast<WORD>(uint32_t(channels) * ((uint32_t(bits) + 7) / 8));
    format.nAvgBytesPerSec = static_cast<DWORD>(uint64_t(rate) * format.nBlockAlign);
    format.cbSize = 0;
    return format;
}

WaveFormatBuffer WaveCopyFormat(const WAVEFORMATEX* format) {
    WaveFormatBuffer copy;
    const uint32_t size = WaveFormatSize(format);
    if (size == 0) return copy;
    const auto* bytes = reinterpret_cast<const uint8_t*>(format);
    copy.bytes_.assign(bytes, bytes + size);
    if (format->wFormatTag == WAVE_FORMAT_PCM) copy.get()->cbSize = 0;
    return copy;
}

namespace {

// |a| * |b| / |c| with its remainder, exactly: the 128-bit product from
// 32-bit limbs, divided bit by bit. False when the quotient passes 64 bits.
bool UnsignedMulDiv(uint64_t a, uint64_t b, uint64_t c, uint64_t& quotient, uint64_t& remainder) {
    const uint64_t aLow = uint32_t(a), aHigh = a >> 32, bLow = uint32_t(b), bHigh = b >> 32;
    const uint64_t lowLow = aLow * bLow, lowHigh = aLow * bHigh, highLow = aHigh * bLow, highHigh = aHigh * bHigh;
    const uint64_t middle = (lowLow >> 32) + uint32_t(lowHigh) + uint32_t(highLow);
    uint64_t high = highHigh + (lowHigh >> 32) + (highLow >> 32) + (middle >> 32);
    uint64_t low = (middle << 32) | uint32_t(lowLow);
    if (high >= c) return false;
    uint64_t rest = high;
    quotient = 0;
    for (int bit = 63; bit >= 0; --bit) {
        const bool carry = rest >> 63;
        rest = (rest << 1) | ((low >> bit) & 1);
        quotient <<= 1;
        if (carry || rest >= c) {
            rest -= c;
            quotient |= 1;
        }
    }
    remainder = rest;
    return true;
}

uint64_t Magnitude(int64_t value) { return value < 0 ? 0 - uint64_t(value) : uint64_t(value); }

}  // namespace

int64_t MulDivRound(int64_t a, int64_t b, int64_t c) {
    if (c == 0) return 0;
    const bool negative = a != 0 && b != 0 && ((a < 0) != (b < 0)) != (c < 0);
    uint64_t quotient = 0, remainder = 0;
    const uint64_t divisor = Magnitude(c);
    if (!UnsignedMulDiv(Magnitude(a), Magnitude(b), divisor, quotient, remainder))
        return negative ? kInt64Min : kInt64Max;
    // Halves away from zero: the truncated quotient plus (2 * remainder) / c.
    if (remainder >= divisor - remainder) ++quotient;
    if (negative) return quotient > uint64_t(kInt64Max) ? kInt64Min : -int64_t(quotient);
    return quotient > uint64_t(kInt64Max) ? kInt64Max : int64_t(quotient);
}

uint32_t WaveBytesToSamples(const WAVEFORMATEX* format, uint32_t bytes) {
    if (!format) return 0;
    return ClampToU32(MulDivRound(bytes, format->nSamplesPerSec, format->nAvgBytesPerSec));
}

int64_t WaveBytesToSamples64(const WAVEFORMATEX* format, int64_t bytes) {
    if (!format) return 0;
    return MulDivRound(bytes, format->nSamplesPerSec, format->nAvgBytesPerSec);
}

int64_t WaveSamplesToBytes64(const WAVEFORMATEX* format, int64_t samples) {
    if (!format) return 0;
    return RoundUpToBlock(MulDivRound(samples, format->nAvgBytesPerSec, format->nSamplesPerSec), format->nBlockAlign);
}

uint32_t WaveSamplesToBytes(const WAVEFORMATEX* format, uint32_t samples) {
    const int64_t bytes = WaveSamplesToBytes64(format, samples);
    if (bytes <= int64_t(UINT32_MAX)) return uint32_t(bytes);
    // Past 4 GiB: the largest whole number of blocks that fits.
    const uint16_t block = format->nBlockAlign ? format->nBlockAlign : 1;
    return UINT32_MAX - UINT32_MAX % block;
}

int64_t WaveSamplesToMs64(const WAVEFORMATEX* format, int64_t samples) {
    if (!format) return 0;
    return MulDivRound(samples, 1000, format->nSamplesPerSec);
}

uint32_t WaveSamplesToMs(const WAVEFORMATEX* format, uint32_t samples) {
    return ClampToU32(WaveSamplesToMs64(format, samples));
}

uint32_t WaveMsToSamples(const WAVEFORMATEX* format, uint32_t ms) {
    if (!format) return 0;
    return ClampToU32(MulDivRound(ms, format->nSamplesPerSec, 1000));
}

const std::array<FormatTagName, 38> FormatTagNameTable = {{
    {0x0000, "Unknown"},
    {0x0001, "PCM"},
    {0x020C, "PCM 32"},
    {0x0002, "Microsoft ADPCM"},
    {0x0003, "Mediavision's ADPCM"},
    {0x0005, "IBM CVSD"},
    {0x0006, "CCITT A-Law"},
    {0x0007, "CCITT mu-Law"},
    {0x0010, "OKI ADPCM"},
    {0x0011, "IMA ADPCM"},
    {0x0011, "DVI ADPCM"},
    {0x0012, "Mediaspace's ADPCM"},
    {0x0013, "Sierra's ADPCM"},
    {0x0014, "CCITT G.723 ADPCM"},
    {0x0015, "Digisound DIGISTD"},
    {0x0016, "Digisound DIGIFIX"},
    {0x0017, "Dialogic OKI ADPCM"},
    {0x0020, "Yamaha ADPCM"},
    {0x0021, "Sonarc"},
    {0x0022, "DSP Group's Truespeech"},
    {0x0023, "Echo SC1"},
    {0x0024, "Audiofile AF36"},
    {0x0025, "Audio Processing Technology"},
    {0x0026, "Audiofile AF10"},
    {0x0030, "Dolby AC2"},
    {0x0209, "Dolby AC2"},
    {0x0031, "GSM 6.10"},
    {0x0033, "Antex ADPCME"},
    {0x0039, "CS IMA ADPCM"},
    {0x0040, "CCITT G.721 ADPCM"},
    {0x0050, "MPEG 1"},
    {0x0055, "MPEG Layer-3"},
    {0x0200, "Creative's ADPCM"},
    {0x1001, "Olivetti's ADPCM"},
    {0x0204, "CDI-C"},
    {0x0205, "CDI-B"},
    {0x0206, "Antex-DVI-OKI ADPCME"},
    {0xFFFF, "*DEVELOPMENT ONLY TAG*"},
}};

std::string WaveFormatTagName(const WAVEFORMATEX* format) {
    if (!format) return Unknown();
    for (const auto& row : FormatTagNameTable)
        if (row.tag == format->wFormatTag) return row.name;
    return Unknown();
}

std::string WaveFormatDescription(const WAVEFORMATEX* format) {
    listSeparator = ProfileCharacter("sList", listSeparator);
    decimalSeparator = ProfileCharacter("sDecimal", decimalSeparator);
    if (!format || format->nSamplesPerSec == 0 || format->nChannels == 0) return Unknown();

    // From the byte rate, so that compressed formats show their coded width.
    const uint32_t bits32 = format->nAvgBytesPerSec * 8u / format->nSamplesPerSec / format->nChannels;
    const int bits = uint16_t(bits32);
    const char list[2] = {listSeparator, 0};
    const char decimal[2] = {decimalSeparator, 0};
    const unsigned kilo = format->nSamplesPerSec / 1000;
    const unsigned rest = format->nSamplesPerSec % 1000;
    char text[128];
    if (format->nChannels <= 2) {
        std::snprintf(text, sizeof text, "%u%s%.03u kHz%s %d Bit%s %s", kilo, decimal, rest, list, bits, list,
                      format->nChannels == 1 ? "Mono" : "Stereo");
    } else {
        std::snprintf(text, sizeof text, "%u%s%.03u kHz%s %d Bit%s %d Channels", kilo, decimal, rest, list, bits,
                      list, int(format->nChannels));
    }
    return text;
}

char WaveListSeparator() { return listSeparator; }
char WaveDecimalSeparator() { return decimalSeparator; }

bool WaveFormatTexts(const WAVEFORMATEX* format, std::string& name, std::string& description) {
    if (!format) return false;
    bool haveName = false;
    bool haveDescription = false;
    const AcmBinding& acm = Acm();
    if (acm.Usable()) {
        const AcmEntryPoints& entry = acm.EntryPoints();
        if (entry.acmFormatTagDetailsA) {
            ACMFORMATTAGDETAILSA details{};
            details.cbStruct = sizeof details;
            details.dwFormatTag = format->wFormatTag;
            if (entry.acmFormatTagDetailsA(nullptr, &details, ACM_FORMATTAGDETAILSF_FORMATTAG) == 0) {
                details.szFormatTag[sizeof details.szFormatTag - 1] = 0;
                name = details.szFormatTag;
                haveName = true;
            }
        }
        if (entry.acmFormatDetailsA) {
            // The manager may write to the record; it gets its own copy.
            WaveFormatBuffer copy = WaveCopyFormat(format);
            ACMFORMATDETAILSA details{};
            details.cbStruct = sizeof details;
            details.dwFormatTag = format->wFormatTag;
            details.pwfx = copy.get();
            details.cbwfx = copy.size();
            if (entry.acmFormatDetailsA(nullptr, &details, ACM_FORMATDETAILSF_FORMAT) == 0) {
                details.szFormat[sizeof details.szFormat - 1] = 0;
                description = details.szFormat;
                haveDescription = true;
            }
        }
    }
    if (!haveName) name = WaveFormatTagName(format);
    if (!haveDescription) description = WaveFormatDescription(format);
    return true;
}
