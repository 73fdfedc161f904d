// Text helpers. Texts are 8-bit strings in a code page (the system's ANSI
// code page unless a call names another); paths use backslashes.
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

// The wide name under which the system opens the file of a path string:
// every file of the wave layer is opened through this one place.
std::wstring PathToWide(std::string_view path);

std::string UpperCase(std::string_view text);
bool SameText(std::string_view a, std::string_view b);  // ASCII case-insensitive
bool StartsWith(std::string_view text, std::string_view prefix);

// The system's message text for an error code, without the trailing line break.
std::string SystemErrorMessage(DWORD code);

}  // namespace wc
