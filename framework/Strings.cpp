#include "framework/Strings.h"

#include <algorithm>
#include <cctype>

namespace wc {

std::wstring ToWide(std::string_view text, UINT codePage) {
    if (text.empty()) return {};
    const int length = ::MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(size_t(std::max(length, 0)), L'\0');
    if (length > 0) ::MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), wide.data(), length);
    return wide;
}

std::string FromWide(std::wstring_view text, UINT codePage) {
    if (text.empty()) return {};
    const int length =
        ::WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(size_t(std::max(length, 0)), '\0');
    if (length > 0)
        ::WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), narrow.data(), length, nullptr, nullptr);
    return narrow;
}

std::wstring PathToWide(std::string_view path) { return ToWide(path, CP_UTF8); }

std::string PathFromWide(std::wstring_view path) { return FromWide(path, CP_UTF8); }

std::string UpperCase(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return result;
}

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && UpperCase(a) == UpperCase(b);
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::string SystemErrorMessage(DWORD code) {
    char* buffer = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string message = length ? std::string(buffer, length) : std::string();
    if (buffer) ::LocalFree(buffer);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
    return message;
}

}  // namespace wc
