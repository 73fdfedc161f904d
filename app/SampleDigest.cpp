#include "app/SampleDigest.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>

SampleMd5::SampleMd5() {
    HCRYPTPROV provider = 0;
    if (!::CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return;
    provider_.reset(provider);
    HCRYPTHASH made = 0;
    if (::CryptCreateHash(provider_.get(), CALG_MD5, 0, 0, &made)) hash_.reset(made);
}

void SampleMd5::Add(const uint8_t* bytes, size_t size) {
    // CryptHashData takes a 32-bit length; blocks are far smaller, but a
    // caller's block is not bounded here.
    constexpr size_t kLargestPiece = 1u << 30;
    while (hash_ && !failed_ && size > 0) {
        const size_t piece = size < kLargestPiece ? size : kLargestPiece;
        if (!::CryptHashData(hash_.get(), bytes, DWORD(piece), 0)) failed_ = true;
        bytes += piece;
        size -= piece;
    }
}

std::string SampleMd5::Hex(std::string& why) {
    if (!hash_) {
        why = "no MD5 here";
        return {};
    }
    BYTE digest[16];
    DWORD size = sizeof digest;
    if (failed_ || !::CryptGetHashParam(hash_.get(), HP_HASHVAL, digest, &size, 0) || size != sizeof digest) {
        why = "the MD5 failed";
        return {};
    }
    std::string hex;
    for (BYTE byte : digest) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", unsigned(byte));
        hex += pair;
    }
    return hex;
}
