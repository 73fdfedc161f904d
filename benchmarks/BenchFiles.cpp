#include <windows.h>

#include <algorithm>
#include <vector>

#include "Bench.h"
#include "framework/Handles.h"

namespace bench {

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
    return path;
}

}  // namespace bench
