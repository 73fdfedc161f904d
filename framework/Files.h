// Paths and files.
#pragma once

#include <string>
#include <string_view>

namespace wc {

// True when a file (not a directory) of that name exists.
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);

// The full path of the running executable.
std::string ExecutablePath();

// "C:\a\b.txt" -> "C:\a" (no trailing separator, as long as it is not a drive root).
std::string ExtractFileDir(std::string_view path);
// "C:\a\b.txt" -> "C:\a\" (with the separator).
std::string ExtractFilePath(std::string_view path);
// "C:\a\b.txt" -> "b.txt".
std::string ExtractFileName(std::string_view path);

}  // namespace wc
