// The MD5 of a wave file's samples, as checksum tools read them (the
// converter's "-f md5", for one): the sample bytes in the order they are
// stored, without the header. The log gives it for every cleaned file, the
// same for the source and its verified copy, so that the copy can be checked
// later with the tools an archive already has. The check feeds it the copy's
// bytes as it compares them, so a large copy is read once, not twice.
//
// MD5 runs at about half a gigabyte a second, slower than a converter writes
// PCM: hashed where the check compares, it would hold the check of a large
// copy behind its converter. Large blocks are therefore hashed on a worker
// thread of the digest's own, started at the first of them, while the
// caller reads and compares the next; small ones, until then, on the
// caller's thread, so a short file costs no thread.
//
// Threads: the owner's thread calls Add and Hex; the worker runs Run.
// mutex_ guards queue_, spare_, busy_, stop_ and failed_. The system's hash
// object belongs to the caller's thread until the worker starts, then to the
// worker while queue_ holds blocks or busy_ is set, and to Hex once both are
// empty; the hand-over is decided under mutex_.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "framework/Handles.h"

class SampleMd5 {
public:
    SampleMd5();
    ~SampleMd5();
    SampleMd5(const SampleMd5&) = delete;
    SampleMd5& operator=(const SampleMd5&) = delete;

    // Hashes the next bytes: takes `bytes` and leaves in it a buffer to
    // reuse (empty, perhaps with room).
    void Add(std::vector<uint8_t>& bytes);
    // Lower-case hexadecimal of everything added, once it is all hashed;
    // empty when the system gave no MD5 here (the reason then is in `why`).
    std::string Hex(std::string& why);

private:
    void HashNow(const uint8_t* bytes, size_t size);  // on whichever thread owns the hash
    void Run();

    wc::CryptProviderHandle provider_;
    wc::CryptHashHandle hash_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<uint8_t>> queue_;  // blocks the worker has yet to hash
    std::vector<std::vector<uint8_t>> spare_; // hashed blocks, for Add to hand back
    bool busy_ = false;                       // the worker is hashing a block it took
    bool stop_ = false;
    bool failed_ = false;
    std::thread worker_;  // last: started by Add at the first large block
};
