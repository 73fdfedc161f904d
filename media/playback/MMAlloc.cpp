#include "media/playback/MMAlloc.h"

TMMAllocator::~TMMAllocator() { FreeAllBlocks(); }

void* TMMAllocator::AllocBlock(UINT flags, uint32_t size) noexcept {
    wc::CriticalSectionLock hold(lock_);
    Block* taken = nullptr;
    for (Block& block : blocks_) {
        if (block.uses == 0 && block.size == size) {
            taken = &block;
            break;
        }
    }
    if (!taken) {
        for (Block& block : blocks_) {
            if (block.uses == 0 && block.size >= size) {
                taken = &block;
                break;
            }
        }
    }
    if (taken) {
        taken->uses = 1;
        return taken->address;
    }

    try {
        blocks_.reserve(blocks_.size() + 1);  // so that appending below cannot fail
    } catch (...) {
        return nullptr;
    }
    wc::GlobalMemoryHandle memory(::GlobalAlloc(flags, size));
    if (!memory) return nullptr;
    void* address = ::GlobalLock(memory.get());
    if (!address) return nullptr;
    blocks_.push_back(Block{std::move(memory), address, size, 1});
    return address;
}

bool TMMAllocator::Release(const void* address) noexcept {
    wc::CriticalSectionLock hold(lock_);
    for (Block& block : blocks_) {
        if (block.address == address) {
            // A block given back twice stays free rather than counting below zero.
            if (block.uses > 0) --block.uses;
            return true;
        }
    }
    return false;
}

void TMMAllocator::FreeAllBlocks() noexcept {
    wc::CriticalSectionLock hold(lock_);
    while (!blocks_.empty()) {
        Block& last = blocks_.back();
        ::GlobalUnlock(last.memory.get());
        last.memory.reset();
        blocks_.pop_back();
    }
}

size_t TMMAllocator::BlockCount() const noexcept {
    wc::CriticalSectionLock hold(lock_);
    return blocks_.size();
}

int32_t TMMAllocator::UseCount(const void* address) const noexcept {
    wc::CriticalSectionLock hold(lock_);
    for (const Block& block : blocks_)
        if (block.address == address) return block.uses;
    return -1;
}
