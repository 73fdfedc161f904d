// The MD5 of a wave file's samples, as checksum tools read them (the
// converter's "-f md5", for one): the sample bytes in the order they are
// stored, without the header. The log gives it for every cleaned file, the
// same for the source and its verified copy, so that the copy can be checked
// later with the tools an archive already has. The check feeds it the copy's
// bytes as it compares them, so a large copy is read once, not twice.
//
// Used on one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "framework/Handles.h"

class SampleMd5 {
public:
    SampleMd5();
    // Hashes the next `size` bytes.
    void Add(const uint8_t* bytes, size_t size);
    // Lower-case hexadecimal of everything added; empty when the system
    // gave no MD5 here (the reason then is in `why`).
    std::string Hex(std::string& why);

private:
    wc::CryptProviderHandle provider_;
    wc::CryptHashHandle hash_;
    bool failed_ = false;
};
