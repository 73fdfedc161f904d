// Paths and files.
#pragma once

#include <string>
#include <string_view>

namespace wc {

// True when a file (not a directory) of that name exists.
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);

// True when every character of the (UTF-8) path is in the system's code page.
bool FitsCodePage(const std::string& path);
// The name under which a library that takes only ANSI names opens a file:
// the path itself in the system's code page when every character fits
// (with no look-alike put in for one that does not), else its short (8.3)
// form when that fits; empty when no ANSI name names exactly this file.
std::string AnsiPathFor(const std::string& path);

// The full path of the running executable.
std::string ExecutablePath();

// "C:\a\b.txt" -> "C:\a" (no trailing separator, as long as it is not a drive root).
std::string ExtractFileDir(std::string_view path);
// "C:\a\b.txt" -> "C:\a\" (with the separator).
std::string ExtractFilePath(std::string_view path);
// "C:\a\b.txt" -> "b.txt".
std::string ExtractFileName(std::string_view path);

}  // namespace wc
