#include "app/SampleDigest.h"

#include <windows.h>
#include <wincrypt.h>

#include <chrono>
#include <cstdio>

namespace {

// Blocks from this size on go to the worker: a few milliseconds of
// hashing, far more than a thread's start and a hand-over cost.
constexpr size_t kBackgroundFromBytes = 1 << 20;
// Blocks handed over and not yet hashed, at most: the caller waits past
// this many, so the queue holds a few of the check's blocks (at most 4 MiB
// each), not the whole copy.
constexpr size_t kMostQueued = 4;
// A block of megabytes hashes in milliseconds: a worker this late is stuck,
// and the MD5 is given up rather than the job held.
constexpr std::chrono::seconds kHashWait{60};

}  // namespace

SampleMd5::SampleMd5() {
    HCRYPTPROV provider = 0;
    if (!::CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return;
    provider_.reset(provider);
    HCRYPTHASH made = 0;
    if (::CryptCreateHash(provider_.get(), CALG_MD5, 0, 0, &made)) hash_.reset(made);
}

SampleMd5::~SampleMd5() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (worker_.joinable()) worker_.join();  // at most one block in hand
}

void SampleMd5::HashNow(const uint8_t* bytes, size_t size) {
    // CryptHashData takes a 32-bit length; blocks are far smaller, but a
    // caller's block is not bounded here.
    constexpr size_t kLargestPiece = 1u << 30;
    bool failed = false;
    while (hash_ && size > 0 && !failed) {
        const size_t piece = size < kLargestPiece ? size : kLargestPiece;
        failed = !::CryptHashData(hash_.get(), bytes, DWORD(piece), 0);
        bytes += piece;
        size -= piece;
    }
    if (failed) {
        const std::lock_guard<std::mutex> lock(mutex_);
        failed_ = true;
    }
}

void SampleMd5::Add(std::vector<uint8_t>& bytes) {
    if (!hash_ || bytes.empty()) return;
    if (!worker_.joinable() && bytes.size() < kBackgroundFromBytes) return HashNow(bytes.data(), bytes.size());
    if (!worker_.joinable()) worker_ = std::thread([this] { Run(); });
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_for(lock, kHashWait, [this] { return queue_.size() < kMostQueued || failed_; }))
            failed_ = true;
        if (failed_) return;
        queue_.push_back(std::move(bytes));
        bytes.clear();
        if (!spare_.empty()) {
            bytes.swap(spare_.back());
            spare_.pop_back();
        }
    }
    changed_.notify_all();
}

void SampleMd5::Run() {
    for (;;) {
        std::vector<uint8_t> block;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (stop_) return;
            block.swap(queue_.front());
            queue_.pop_front();
            busy_ = true;
        }
        HashNow(block.data(), block.size());
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            busy_ = false;
            block.clear();
            spare_.push_back(std::move(block));
        }
        changed_.notify_all();
    }
}

std::string SampleMd5::Hex(std::string& why) {
    if (!hash_) {
        why = "no MD5 here";
        return {};
    }
    bool failed = false;
    {
        // Everything handed over is hashed before the hash is read here.
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_for(lock, kHashWait, [this] { return (queue_.empty() && !busy_) || failed_; }))
            failed_ = true;
        failed = failed_;
    }
    BYTE digest[16];
    DWORD size = sizeof digest;
    if (failed || !::CryptGetHashParam(hash_.get(), HP_HASHVAL, digest, &size, 0) || size != sizeof digest) {
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
