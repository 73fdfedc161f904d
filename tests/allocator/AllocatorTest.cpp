#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "media/playback/MMAlloc.h"

namespace {

constexpr UINT kZeroInit = GMEM_FIXED | GMEM_ZEROINIT;

TEST(AllocatorReuse, ReleasedBlockIsHandedOutAgainForTheSameSize) {
    TMMAllocator pool;
    void* first = pool.AllocBlock(kZeroInit, 4156);
    ASSERT_NE(first, nullptr);
    void* held = first;
    pool.ReleaseBlock(held);
    EXPECT_EQ(pool.AllocBlock(kZeroInit, 4156), first);
    EXPECT_EQ(pool.BlockCount(), 1u);
}

TEST(AllocatorReuse, BlocksInUseAreNeverHandedOutTwice) {
    TMMAllocator pool;
    void* a = pool.AllocBlock(kZeroInit, 100);
    void* b = pool.AllocBlock(kZeroInit, 100);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(pool.UseCount(a), 1);
    EXPECT_EQ(pool.UseCount(b), 1);
}

TEST(AllocatorReuse, SmallerRequestTakesTheFirstFreeBlockThatIsLargeEnough) {
    TMMAllocator pool;
    void* small = pool.AllocBlock(kZeroInit, 50);
    void* large1 = pool.AllocBlock(kZeroInit, 300);
    void* large2 = pool.AllocBlock(kZeroInit, 200);
    for (void* p : {small, large1, large2}) {
        void* held = p;
        pool.ReleaseBlock(held);
    }
    EXPECT_EQ(pool.AllocBlock(kZeroInit, 120), large1);
    EXPECT_EQ(pool.AllocBlock(kZeroInit, 120), large2);
    EXPECT_EQ(pool.BlockCount(), 3u);
}

TEST(AllocatorReuse, AnExactSizeIsPreferredToAnEarlierLargerBlock) {
    TMMAllocator pool;
    void* larger = pool.AllocBlock(kZeroInit, 400);
    void* exact = pool.AllocBlock(kZeroInit, 160);
    for (void* p : {larger, exact}) {
        void* held = p;
        pool.ReleaseBlock(held);
    }
    EXPECT_EQ(pool.AllocBlock(kZeroInit, 160), exact);
    EXPECT_EQ(pool.AllocBlock(kZeroInit, 160), larger);
}

TEST(AllocatorReuse, LargerRequestMakesANewBlockAndKeepsTheSmallOneFree) {
    TMMAllocator pool;
    void* small = pool.AllocBlock(kZeroInit, 64);
    void* held = small;
    pool.ReleaseBlock(held);
    void* big = pool.AllocBlock(kZeroInit, 4096);
    ASSERT_NE(big, nullptr);
    EXPECT_NE(big, small);
    EXPECT_EQ(pool.BlockCount(), 2u);
    EXPECT_EQ(pool.UseCount(small), 0);
    EXPECT_EQ(pool.AllocBlock(kZeroInit, 64), small);
}

TEST(AllocatorReuse, ReusedBlockKeepsItsContentsWhileNewBlocksAreZeroed) {
    TMMAllocator pool;
    auto* block = static_cast<uint8_t*>(pool.AllocBlock(kZeroInit, 256));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(block[i], 0) << i;
    std::memset(block, 0xA5, 256);
    uint8_t* held = block;
    pool.ReleaseBlock(held);
    auto* again = static_cast<uint8_t*>(pool.AllocBlock(kZeroInit, 256));
    ASSERT_EQ(again, block);
    EXPECT_EQ(again[0], 0xA5);
    EXPECT_EQ(again[255], 0xA5);
    auto* fresh = static_cast<uint8_t*>(pool.AllocBlock(kZeroInit, 256));
    ASSERT_NE(fresh, nullptr);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(fresh[i], 0) << i;
}

TEST(AllocatorRelease, ClearsTheCallersReferenceAndFreesTheBlock) {
    TMMAllocator pool;
    void* block = pool.AllocBlock(kZeroInit, 32);
    void* held = block;
    pool.ReleaseBlock(held);
    EXPECT_EQ(held, nullptr);
    EXPECT_EQ(pool.UseCount(block), 0);
}

TEST(AllocatorRelease, AnAddressNotInThePoolIsIgnoredAndKept) {
    TMMAllocator pool;
    void* block = pool.AllocBlock(kZeroInit, 32);
    int outside = 0;
    int* foreign = &outside;
    pool.ReleaseBlock(foreign);
    EXPECT_EQ(foreign, &outside);
    EXPECT_EQ(pool.UseCount(block), 1);
    void* none = nullptr;
    pool.ReleaseBlock(none);
    EXPECT_EQ(pool.UseCount(block), 1);
}

TEST(AllocatorRelease, ABlockGivenBackTwiceIsHandedOutOnlyOnce) {
    // A second release through a copied pointer must not make the block
    // count as more than free.
    TMMAllocator pool;
    void* block = pool.AllocBlock(kZeroInit, 80);
    void* copy = block;
    void* held = block;
    pool.ReleaseBlock(held);
    pool.ReleaseBlock(copy);
    EXPECT_EQ(pool.UseCount(block), 0);
    EXPECT_EQ(pool.AllocBlock(kZeroInit, 80), block);
    void* other = pool.AllocBlock(kZeroInit, 80);
    EXPECT_NE(other, block);
}

TEST(AllocatorFreeAll, FreesBlocksInUseToo) {
    TMMAllocator pool;
    void* a = pool.AllocBlock(kZeroInit, 1000);
    pool.AllocBlock(kZeroInit, 2000);
    void* held = a;
    pool.ReleaseBlock(held);
    pool.FreeAllBlocks();
    EXPECT_EQ(pool.BlockCount(), 0u);
    EXPECT_EQ(pool.UseCount(a), -1);
    auto* fresh = static_cast<uint8_t*>(pool.AllocBlock(kZeroInit, 1000));
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(pool.BlockCount(), 1u);
}

TEST(AllocatorFailure, AnImpossibleSizeGivesNothingAndLeavesThePoolAlone) {
    if (sizeof(void*) == 8)
        GTEST_SKIP() << "a 64-bit process can have 4 GiB, the largest size a block can ask for";
    TMMAllocator pool;
    void* block = pool.AllocBlock(kZeroInit, 16);
    EXPECT_EQ(pool.AllocBlock(kZeroInit, 0xFFFFFFF0u), nullptr);
    EXPECT_EQ(pool.BlockCount(), 1u);
    EXPECT_EQ(pool.UseCount(block), 1);
}

TEST(AllocatorThreads, ConcurrentUsersNeverShareABlock) {
    TMMAllocator pool;
    constexpr int kThreads = 4, kRounds = 3000;
    constexpr uint32_t kSizes[] = {256, 512, 1024};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                const uint32_t size = kSizes[(i + t) % 3];
                auto* block = static_cast<uint8_t*>(pool.AllocBlock(kZeroInit, size));
                if (!block) {
                    ++failures;
                    continue;
                }
                std::memset(block, t + 1, size);
                std::this_thread::yield();
                for (uint32_t k = 0; k < size; k += 61)
                    if (block[k] != t + 1) ++failures;
                pool.ReleaseBlock(block);
                if (block) ++failures;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    // Every thread holds at most one block at a time, of one of three sizes.
    EXPECT_LE(pool.BlockCount(), size_t(kThreads) * 3);
}

}  // namespace
