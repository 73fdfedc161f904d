#include "framework/Files.h"

#include <windows.h>

#include <vector>

#include "framework/Strings.h"

namespace wc {

bool FileExists(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(PathToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(PathToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FitsCodePage(const std::string& path) {
    const std::wstring wide = PathToWide(path);
    BOOL lost = FALSE;
    if (!wide.empty())
        ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), int(wide.size()), nullptr, 0, nullptr, &lost);
    return !lost;
}

std::string AnsiPathFor(const std::string& path) {
    const std::wstring wide = PathToWide(path);
    // No best fit: a look-alike ("Cafe" for "Café") would name another file.
    const auto exact = [](const std::wstring& name, std::string& out) {
        BOOL lost = FALSE;
        const int size = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.c_str(), -1, nullptr, 0, nullptr, &lost);
        if (size <= 0 || lost) return false;
        out.assign(size_t(size), '\0');
        ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.c_str(), -1, out.data(), size, nullptr, &lost);
        out.pop_back();  // the terminating zero
        return !lost;
    };
    std::string ansi;
    if (exact(wide, ansi)) return ansi;
    std::vector<wchar_t> shortName(wide.size() + MAX_PATH);
    const DWORD length = ::GetShortPathNameW(wide.c_str(), shortName.data(), DWORD(shortName.size()));
    if (length == 0 || length >= shortName.size()) return {};
    return exact(std::wstring(shortName.data(), length), ansi) ? ansi : std::string();
}

std::string ExecutablePath() {
    // Long paths: grow the buffer until the name fits.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
        if (length < buffer.size()) return PathFromWide(std::wstring_view(buffer.data(), length));
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
