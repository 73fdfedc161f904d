#include "app/SampleDigest.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

#include "app/DecodingStreams.h"
#include "framework/Handles.h"
#include "media/wave/MMWaveIO.h"

std::string SampleDataMd5(const std::string& path, const std::function<void()>& betweenBlocks, std::string& why) {
    PWaveIOHandle opened = nullptr;
    if (WaveIOOpen(opened, path.c_str()) != 0 || !opened) {
        why = "it cannot be read as a wave file";
        return {};
    }
    const WaveIOHandlePtr wave(opened);
    WAVEFORMATEX pcm{};
    const std::unique_ptr<DecodingStream> samples = OpenDecodingStream(*wave, pcm, why);
    if (!samples) return {};

    HCRYPTPROV provider = 0;
    if (!::CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        why = "no MD5 here";
        return {};
    }
    const wc::CryptProviderHandle context(provider);
    HCRYPTHASH made = 0;
    if (!::CryptCreateHash(context.get(), CALG_MD5, 0, 0, &made)) {
        why = "no MD5 here";
        return {};
    }
    const wc::CryptHashHandle hash(made);
    std::vector<uint8_t> block;
    for (;;) {
        if (!samples->Next(block)) {
            why = samples->failure;
            return {};
        }
        if (block.empty()) break;
        if (!::CryptHashData(hash.get(), block.data(), DWORD(block.size()), 0)) {
            why = "the MD5 failed";
            return {};
        }
        if (betweenBlocks) betweenBlocks();
    }
    BYTE digest[16];
    DWORD size = sizeof digest;
    if (!::CryptGetHashParam(hash.get(), HP_HASHVAL, digest, &size, 0) || size != sizeof digest) {
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
