// Text helpers. Texts are 8-bit strings in a code page (the system's ANSI
// code page unless a call names another); paths are UTF-8 and use
// backslashes.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace wc {

constexpr UINT kShiftJisCodePage = 932;

std::wstring ToWide(std::string_view text, UINT codePage = CP_ACP);
std::string FromWide(std::wstring_view text, UINT codePage = CP_ACP);

// Shift-JIS bytes shown through the wide API, so they read right whatever
// the system's code page is.
inline std::wstring ShiftJisToWide(std::string_view text) { return ToWide(text, kShiftJisCodePage); }

// Paths are carried as UTF-8, so that a name outside the system's code page
// survives; they become wide text only where a system call takes them, and
// every file is opened under the name this gives.
std::wstring PathToWide(std::string_view path);
// A wide path the system returned, as UTF-8.
std::string PathFromWide(std::wstring_view path);

std::string UpperCase(std::string_view text);
bool SameText(std::string_view a, std::string_view b);  // ASCII case-insensitive
bool StartsWith(std::string_view text, std::string_view prefix);

// The system's message text for an error code, without the trailing line break.
std::string SystemErrorMessage(DWORD code);

}  // namespace wc
