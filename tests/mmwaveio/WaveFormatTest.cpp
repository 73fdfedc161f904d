#include <gtest/gtest.h>

#include "media/codecs/MMACM.h"
#include "media/wave/MMWaveIO.h"

namespace {

WAVEFORMATEX Format(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t avg, uint16_t align, uint16_t bits) {
    return WAVEFORMATEX{tag, channels, rate, avg, align, bits, 0};
}

TEST(MulDivRound, RoundsHalvesAwayFromZero) {
    EXPECT_EQ(MulDivRound(10, 1, 4), 3);   // 2.5
    EXPECT_EQ(MulDivRound(9, 1, 4), 2);    // 2.25
    EXPECT_EQ(MulDivRound(-10, 1, 4), -3);
    EXPECT_EQ(MulDivRound(7, 3, 0), 0);
    EXPECT_EQ(MulDivRound(4000000000LL, 4000000000LL, 8000000000LL), 2000000000LL);
    EXPECT_EQ(MulDivRound(INT64_MAX, INT64_MAX, 1), INT64_MAX);
}

TEST(WaveConversions, FollowTheFormatRatesAndWholeBlocks) {
    const auto cd = Format(1, 2, 44100, 176400, 4, 16);
    EXPECT_EQ(WaveBytesToSamples(&cd, 176400), 44100u);
    EXPECT_EQ(WaveSamplesToBytes(&cd, 44100), 176400u);
    EXPECT_EQ(WaveSamplesToMs(&cd, 44100), 1000u);
    EXPECT_EQ(WaveMsToSamples(&cd, 500), 22050u);
    EXPECT_EQ(WaveSamplesToBytes64(&cd, 44100LL * 100000), 176400LL * 100000);
    EXPECT_EQ(WaveSamplesToMs64(&cd, 44100LL * 100000), 100000000LL);
    const auto adpcm = Format(0x11, 1, 22050, 11100, 512, 4);
    EXPECT_EQ(WaveSamplesToBytes(&adpcm, 1) % 512, 0u);
    EXPECT_EQ(WaveSamplesToBytes(&cd, 0xFFFFFFFF) % 4, 0u);
}

TEST(WaveConversions, ZeroRatesGiveZeroInsteadOfFaulting) {
    const auto broken = Format(1, 0, 0, 0, 0, 0);
    EXPECT_EQ(WaveBytesToSamples(&broken, 1000), 0u);
    EXPECT_EQ(WaveSamplesToBytes(&broken, 1000), 0u);
    EXPECT_EQ(WaveSamplesToMs(&broken, 1000), 0u);
    EXPECT_EQ(WaveBytesToSamples(nullptr, 1000), 0u);
    EXPECT_EQ(WaveFormatDescription(&broken), "Unknown");
}

TEST(WaveFormatSize, PcmIgnoresCbSizeAndCopiesClearIt) {
    auto pcm = Format(1, 1, 8000, 8000, 1, 8);
    pcm.cbSize = 30;
    EXPECT_EQ(WaveFormatSize(&pcm), 18u);
    auto copy = WaveCopyFormat(&pcm);
    EXPECT_EQ(copy.size(), 18u);
    EXPECT_EQ(copy->cbSize, 0);
    EXPECT_EQ(WaveFormatSize(nullptr), 0u);
    EXPECT_FALSE(WaveCopyFormat(nullptr));
    uint8_t adpcm[20] = {};
    auto* f = reinterpret_cast<WAVEFORMATEX*>(adpcm);
    f->wFormatTag = 2;
    f->cbSize = 2;
    adpcm[18] = 0x42;
    auto extra = WaveCopyFormat(f);
    ASSERT_EQ(extra.size(), 20u);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(extra.get())[18], 0x42);
}

TEST(FormatTagNames, FirstRowWinsAndUnlistedTagsAreUnknown) {
    auto f = Format(0x11, 1, 1, 1, 1, 1);
    EXPECT_EQ(WaveFormatTagName(&f), "IMA ADPCM");
    f.wFormatTag = 0x0099;
    EXPECT_EQ(WaveFormatTagName(&f), "Unknown");
    f.wFormatTag = 0x0209;
    EXPECT_EQ(WaveFormatTagName(&f), "Dolby AC2");
    f.wFormatTag = 0xFFFF;
    EXPECT_EQ(WaveFormatTagName(&f), "*DEVELOPMENT ONLY TAG*");
    EXPECT_EQ(WaveFormatTagName(nullptr), "Unknown");
}

TEST(InfoIds, AreFoundByTheirPlaceFromIarlToItch) {
    ASSERT_FALSE(InfoIdTable.empty());
    EXPECT_EQ(InfoIdTable.front().id, mmioFOURCC('I', 'A', 'R', 'L'));
    EXPECT_EQ(InfoIdTable.back().id, mmioFOURCC('I', 'T', 'C', 'H'));
    EXPECT_EQ(InfoIdIndex(mmioFOURCC('I', 'N', 'A', 'M')), 14);
    EXPECT_EQ(InfoIdIndex(mmioFOURCC('X', 'X', 'X', 'X')), -1);
}

// Sets the user's "Intl" separators for one test and puts them back.
class IntlProfile : public ::testing::Test {
protected:
    void SetUp() override {
        Save("sList", list_);
        Save("sDecimal", decimal_);
    }
    void TearDown() override {
        ::WriteProfileStringA("Intl", "sList", list_.empty() ? nullptr : list_.c_str());
        ::WriteProfileStringA("Intl", "sDecimal", decimal_.empty() ? nullptr : decimal_.c_str());
        ::WriteProfileStringA(nullptr, nullptr, nullptr);
    }
    static void Save(const char* key, std::string& into) {
        char value[32] = {};
        ::GetProfileStringA("Intl", key, "", value, sizeof value);
        into = value;
    }
    static void Set(const char* list, const char* decimal) {
        ::WriteProfileStringA("Intl", "sList", list);
        ::WriteProfileStringA("Intl", "sDecimal", decimal);
    }
    std::string list_, decimal_;
};

TEST_F(IntlProfile, DescriptionsUseTheByteRateAndTheUserSeparators) {
    Set(",", ".");
    const auto cd = Format(1, 2, 44100, 176400, 4, 16);
    EXPECT_EQ(WaveFormatDescription(&cd), "44.100 kHz, 16 Bit, Stereo");
    const auto mono = Format(1, 1, 11025, 11025, 1, 8);
    EXPECT_EQ(WaveFormatDescription(&mono), "11.025 kHz, 8 Bit, Mono");
    const auto six = Format(1, 6, 48000, 576000, 12, 16);
    EXPECT_EQ(WaveFormatDescription(&six), "48.000 kHz, 16 Bit, 6 Channels");
    const auto ima = Format(0x11, 1, 22050, 11100, 512, 4);
    EXPECT_EQ(WaveFormatDescription(&ima), "22.050 kHz, 4 Bit, Mono");
    Set(";", ".");
    EXPECT_EQ(WaveFormatDescription(&cd), "44.100 kHz; 16 Bit; Stereo");
    EXPECT_EQ(WaveListSeparator(), ';');
    Set(",", ",");
    EXPECT_EQ(WaveFormatDescription(&mono), "11,025 kHz, 8 Bit, Mono");
}

TEST(WaveFormatTexts, FallBackToOwnTextsForTagsTheManagerDoesNotKnow) {
    const AcmScope acm;
    std::string name, description;
    EXPECT_FALSE(WaveFormatTexts(nullptr, name, description));
    const auto odd = Format(0x0099, 1, 8000, 8000, 1, 8);
    ASSERT_TRUE(WaveFormatTexts(&odd, name, description));
    EXPECT_EQ(name, "Unknown");
    // Some versions of the manager describe any format, named or not: the
    // description is its own where it answers (asked here directly), ours
    // where it does not.
    auto copy = odd;
    ACMFORMATDETAILSA asked{};
    asked.cbStruct = sizeof asked;
    asked.dwFormatTag = odd.wFormatTag;
    asked.pwfx = &copy;
    asked.cbwfx = sizeof copy;
    const bool managerDescribes =
        Acm().EntryPoints().acmFormatDetailsA(nullptr, &asked, ACM_FORMATDETAILSF_FORMAT) == 0;
    EXPECT_EQ(description, managerDescribes ? std::string(asked.szFormat) : "8.000 kHz, 8 Bit, Mono");
    const auto cd = Format(1, 2, 44100, 176400, 4, 16);
    ASSERT_TRUE(WaveFormatTexts(&cd, name, description));
    EXPECT_FALSE(name.empty());
    EXPECT_FALSE(description.empty());
}

TEST(AcmBinding, MissingLibraryLeavesTheTableEmpty) {
    AcmBinding binding;
    EXPECT_FALSE(binding.Load("NOSUCHACM32.DLL"));
    EXPECT_FALSE(binding.Installed());
    EXPECT_EQ(binding.Library(), nullptr);
    EXPECT_EQ(binding.EntryPoints().acmGetVersion, nullptr);
    EXPECT_EQ(binding.EntryPoints().acmFormatDetailsA, nullptr);
}

DWORD WINAPI OldVersion() { return 0x01050000; }
DWORD WINAPI NewVersion() { return 0x04000000; }
std::vector<std::string> asked;
FARPROC Recorder(const char* name, DWORD(WINAPI* version)()) {
    asked.push_back(name);
    // Through the generic function pointer type, as the system hands entry points out.
    using Generic = void (*)();
    if (std::string(name) == "acmGetVersion") return reinterpret_cast<FARPROC>(reinterpret_cast<Generic>(version));
    return reinterpret_cast<FARPROC>(reinterpret_cast<Generic>(&NewVersion));  // any non-empty pointer
}

TEST(AcmBinding, VersionBelowTwoBindsOnlyTheVersionEntry) {
    AcmBinding binding;
    asked.clear();
    EXPECT_TRUE(binding.Bind([](const char* n) { return Recorder(n, &OldVersion); }));
    EXPECT_TRUE(binding.Installed());
    EXPECT_FALSE(binding.Usable());
    EXPECT_EQ(asked, std::vector<std::string>{"acmGetVersion"});
    EXPECT_EQ(binding.EntryPoints().acmMetrics, nullptr);
    EXPECT_EQ(binding.EntryPoints().acmStreamUnprepareHeader, nullptr);
}

TEST(AcmBinding, VersionTwoBindsEveryEntryInTableOrder) {
    AcmBinding binding;
    asked.clear();
    EXPECT_TRUE(binding.Bind([](const char* n) { return Recorder(n, &NewVersion); }));
    EXPECT_TRUE(binding.Usable());
    ASSERT_EQ(asked.size(), 29u);
    EXPECT_EQ(asked[1], "acmMetrics");
    EXPECT_EQ(asked[11], "acmFormatTagDetailsA");
    EXPECT_EQ(asked[17], "acmFilterTagDetailsA");
    EXPECT_EQ(asked.back(), "acmStreamUnprepareHeader");
    EXPECT_NE(binding.EntryPoints().acmStreamUnprepareHeader, nullptr);
}

TEST(AcmBinding, ProcessBindingIsUseCounted) {
    AcmInitialize();
    const HMODULE first = Acm().Library();
    AcmInitialize();
    EXPECT_EQ(Acm().Library(), first);
    AcmFinalize();
    EXPECT_EQ(Acm().Library(), first);
    AcmFinalize();
    EXPECT_EQ(Acm().Library(), nullptr);
    EXPECT_FALSE(Acm().Installed());
}

}  // namespace
