#include "WaveDialogFixture.h"

#include <cstring>

#include "WaveFixtures.h"
#include "framework/Dialogs.h"
#include "framework/Forms.h"
#include "support/DialogDriver.h"

using namespace testing_support;

namespace wavedialog_tests {

std::string FileSizeKB(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return std::to_string(data.nFileSizeLow / 1024) + " KB";
}

// Where the test's sound device writes what it plays (see tests.cmake), as a Windows path.
std::string PlayedFile() {
    char unixPath[MAX_PATH] = "";
    if (!::GetEnvironmentVariableA("WC_PLAYED_FILE", unixPath, MAX_PATH)) return {};
    std::string path = std::string("Z:") + unixPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

int64_t FileBytes(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (int64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void WaveDialogRun::SetUp() {
    WriteFileBytes(dir_ / "a_pcm44.wav", MakePcmWave(2, 44100, 16, MakeTestSamples16(2, 44100 * 3)));
    WriteFileBytes(dir_ / "b_ima.wav", MakeImaAdpcmWave(40));
    WriteFileBytes(dir_ / "c_six.wav", MakePcmWave(6, 44100, 16, std::vector<uint8_t>(6 * 2 * 2000)));
    WriteFileBytes(dir_ / "d_text.wav", std::vector<uint8_t>{'n', 'o', ' ', 'w', 'a', 'v', 'e', '\n'});
    WriteFileBytes(dir_ / "e_empty.wav", {});
    std::vector<uint8_t> truncated = MakePcmWave(1, 8000, 16, MakeTestSamples16(1, 1000));
    truncated.resize(30);  // inside the format chunk
    WriteFileBytes(dir_ / "f_cutformat.wav", truncated);
    truncated = MakePcmWave(1, 8000, 16, MakeTestSamples16(1, 1000));
    truncated.resize(44 + 301);  // inside the data, and not on a whole sample
    WriteFileBytes(dir_ / "l_cutdata.wav", truncated);
    WriteFileBytes(dir_ / "g_square8.wav", MakePcmWave(1, 11025, 8, AlternatingSamples8(11025, 64)));
    WriteFileBytes(dir_ / "h_square16.wav", MakePcmWave(1, 11025, 16, AlternatingSamples16(11025, 16384)));
    WriteFileBytes(dir_ / "i_short.wav", MakePcmWave(1, 8000, 16, AlternatingSamples16(10, 30000)));
    WriteFileBytes(dir_ / "j_picture.wav", MakeWaveWithPicture(8, 8, 255, 0, 0));
    WriteFileBytes(dir_ / "k_pcm22.wav", MakePcmWave(1, 22050, 16, MakeTestSamples16(1, 22050 * 3, 7)));
    WriteWideCopies(MakeTestSamples16(2, 44100 * 3));
    wc::Application().OnException = [this](const std::exception& error) {
        std::lock_guard lock(errorsMutex_);
        errors_.push_back(error.what());
    };
    dialog_.SetInitialDir(dir_.path());
}

void WaveDialogRun::TearDown() {
    wc::Application().OnException = nullptr;
    wc::SetNewStyleControls(true);
    std::lock_guard lock(errorsMutex_);
    EXPECT_TRUE(errors_.empty()) << "first error: " << errors_.front();
}

void WaveDialogRun::WriteWideCopies(const std::vector<uint8_t>& samples16) {
    std::vector<uint8_t> wide24, floats;
    uint32_t noise = 12345;
    for (size_t i = 0; i + 1 < samples16.size(); i += 2) {
        const int16_t v = int16_t(uint16_t(samples16[i] | (samples16[i + 1] << 8)));
        noise = noise * 1103515245u + 12345u;
        wide24.push_back(uint8_t(noise >> 24));
        wide24.push_back(samples16[i]);
        wide24.push_back(samples16[i + 1]);
        const float f = float(v) / 32768.0f;
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        for (int b = 0; b < 4; ++b) floats.push_back(uint8_t(bits >> (8 * b)));
    }
    WriteFileBytes(dir_ / "m_wide24.wav", MakePcmWave(2, 44100, 24, wide24));
    std::vector<uint8_t> floatWave = MakePcmWave(2, 44100, 32, floats);
    floatWave[20] = 3;  // WAVE_FORMAT_IEEE_FLOAT
    WriteFileBytes(dir_ / "n_float.wav", floatWave);
}

std::string WaveDialogRun::Select(HWND frame, const std::string& prefix) {
    HWND label = PanelControl(frame, kLabel);
    const std::string before = TextOf(label);
    WaitUntil([&] { return !ListViewItems(frame).empty(); });
    if (!SelectListViewItem(frame, prefix)) return "(no item " + prefix + ")";
    WaitUntil([&] { return TextOf(label) != before; }, std::chrono::milliseconds(3000));
    ::Sleep(150);  // the drawing that follows the label
    return TextOf(label);
}

}  // namespace wavedialog_tests
