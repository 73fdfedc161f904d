#include "framework/Files.h"

#include <windows.h>

#include <vector>

namespace wc {

bool FileExists(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ExecutablePath() {
    // Long paths: grow the buffer until the name fits.
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameA(nullptr, buffer.data(), DWORD(buffer.size()));
        if (length < buffer.size()) return std::string(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

static size_t LastDelimiter(std::string_view path) {
    const size_t at = path.find_last_of("\\:");
    return at == std::string_view::npos ? 0 : at + 1;
}

std::string ExtractFilePath(std::string_view path) { return std::string(path.substr(0, LastDelimiter(path))); }

std::string ExtractFileDir(std::string_view path) {
    size_t end = LastDelimiter(path);
    // Keep the separator of a drive root ("C:\") and of a bare "\".
    if (end > 0 && path[end - 1] == '\\' && end > 1 && path[end - 2] != ':') --end;
    return std::string(path.substr(0, end));
}

std::string ExtractFileName(std::string_view path) { return std::string(path.substr(LastDelimiter(path))); }

}  // namespace wc
