// The MD5 of a wave file's samples, as checksum tools read them (the
// converter's "-f md5", for one): the sample bytes in the order they are
// stored, without the header. The log gives it for every cleaned file, the
// same for the source and its verified copy, so that the copy can be checked
// later with the tools an archive already has.
//
// Runs on the caller's thread; reading a large file takes as long as the
// check's read of it, and `betweenBlocks` runs after every block.
#pragma once

#include <functional>
#include <string>

// Lower-case hexadecimal; empty, with the reason in `why`, when the file
// cannot be read as a wave file.
std::string SampleDataMd5(const std::string& path, const std::function<void()>& betweenBlocks, std::string& why);
