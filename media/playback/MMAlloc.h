// A pool of memory blocks from the system's global memory, shared by the
// threads of a wave output: blocks are handed out, given back and handed out
// again; they go back to the system only when the pool is emptied.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "framework/Handles.h"

class TMMAllocator {
public:
    TMMAllocator() = default;
    ~TMMAllocator();
    TMMAllocator(const TMMAllocator&) = delete;
    TMMAllocator& operator=(const TMMAllocator&) = delete;

    // A block of at least `size` bytes: a free block of exactly that size,
    // else the first free block that is large enough, else a new block made
    // with the global-allocation `flags` (GMEM_ZEROINIT zero-fills only new
    // blocks; a reused block keeps what it held). Null when the system has
    // no memory left.
    void* AllocBlock(UINT flags, uint32_t size) noexcept;

    // Gives the block back and clears the caller's reference. An address
    // the pool does not hold is ignored, and the reference is left as it is.
    template <class T>
    void ReleaseBlock(T*& address) noexcept {
        if (address && Release(address)) address = nullptr;
    }

    // Returns every block to the system, handed out or not.
    void FreeAllBlocks() noexcept;

    // How many blocks the pool holds, free or handed out.
    size_t BlockCount() const noexcept;
    // The use count of the block at that address (0: free); -1 when the pool
    // does not hold it.
    int32_t UseCount(const void* address) const noexcept;

private:
    struct Block {
        wc::GlobalMemoryHandle memory;
        void* address;
        uint32_t size;
        int32_t uses;
    };

    bool Release(const void* address) noexcept;

    mutable wc::CriticalSection lock_;
    std::vector<Block> blocks_;  // in the order they were made
};
