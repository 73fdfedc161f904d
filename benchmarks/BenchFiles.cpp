#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "Bench.h"
#include "framework/Files.h"
#include "framework/Handles.h"

namespace bench {

namespace {
constexpr DWORD kFfmpegTimeoutMs = 10 * 60 * 1000;
}  // namespace

std::string Ffmpeg() { return wc::ExtractFileDir(wc::ExecutablePath()) + "\\extras\\ffmpeg.exe"; }

bool RunFfmpeg(const std::string& arguments, const std::string& folder, const std::string& log) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    wc::FileHandle output(::CreateFileA(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output) return false;
    std::string line = "\"";
    line += Ffmpeg();
    line += "\" -hide_banner -nostdin -y ";
    line += arguments;
    std::vector<char> mutableLine(line.begin(), line.end());
    mutableLine.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
    PROCESS_INFORMATION created{};
    if (!::CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, folder.c_str(),
                          &startup, &created))
        return false;
    wc::KernelHandle process(created.hProcess);
    wc::KernelHandle thread(created.hThread);
    // Encoding ten minutes of sound takes a while on a slow machine; nothing here needs longer.
    if (::WaitForSingleObject(process.get(), kFfmpegTimeoutMs) != WAIT_OBJECT_0) return false;
    DWORD code = 1;
    ::GetExitCodeProcess(process.get(), &code);
    return code == 0;
}

double FfmpegBenchSeconds(const std::string& log) {
    std::ifstream in(log, std::ios::binary);
    const std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t user = s.find("utime=");
    const size_t real = s.find("rtime=");
    if (user != std::string::npos && std::atof(s.c_str() + user + 6) > 0) return std::atof(s.c_str() + user + 6);
    return real == std::string::npos ? -1 : std::atof(s.c_str() + real + 6);
}

double ThreadUserSeconds() {
    FILETIME created, exited, kernel, user;
    if (!::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
    return double(uint64_t(user.dwHighDateTime) << 32 | user.dwLowDateTime) / 1e7;
}

std::string MakePcmWaveFile(const std::string& name, uint32_t fileBytes, const std::function<uint8_t(size_t)>& byteAt) {
    char folder[MAX_PATH];
    ::GetTempPathA(MAX_PATH, folder);
    const std::string path = std::string(folder) + name;
    wc::FileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    const uint32_t dataBytes = fileBytes - 44;
    uint8_t header[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,
                          1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0, 'd', 'a', 't', 'a'};
    const uint32_t riffSize = fileBytes - 8;
    for (int i = 0; i < 4; ++i) {
        header[4 + i] = uint8_t(riffSize >> (8 * i));
        header[40 + i] = uint8_t(dataBytes >> (8 * i));
    }
    DWORD done = 0;
    ::WriteFile(file.get(), header, sizeof header, &done, nullptr);
    std::vector<uint8_t> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i) block[i] = byteAt(i);
    for (uint32_t left = dataBytes; left;) {
        const DWORD n = DWORD(std::min<uint32_t>(left, uint32_t(block.size())));
        ::WriteFile(file.get(), block.data(), n, &done, nullptr);
        left -= n;
    }
    // Written out to the disk now: otherwise the system writes the file
    // back while the timed reads run, on the same two processors.
    ::FlushFileBuffers(file.get());
    return path;
}

}  // namespace bench
