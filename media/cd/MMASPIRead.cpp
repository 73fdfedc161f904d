// The copy modes of the sector read engine: burst mode (a reader thread fills
// two buffers ahead of the consumer) and synchronised mode (overlapping passes
// matched against each other, against drive jitter). Both read through
// cdReadSectors, the read with retries (MMASPI.cpp).
//
// How it works
//
// Threads. The consumer (the CD reader's caller, normally the user-interface
// thread) runs cdStartBurst, cdReadBurst, cdStopBurst and all of synchronised
// mode. In burst mode one reader thread per context, BurstThread, runs from
// cdStartBurst to cdStopBurst; it waits for fill requests, reads into the
// requested buffer with cdReadSectors and records the outcome.
//
// Locks. The context's lock guards the burst hand-over fields: `fill`,
// `counts`, `current` and `remaining` of CDBurstState. The same lock is held
// by every SCSI request, so a consumer that looks at the fill flags while
// the thread's read is in progress waits for that request (bounded by the
// request's own timeout). `fillIndex` is the thread's alone, `readIndex` the
// consumer's alone; `stop` and the context's `abort` and `busy` are atomics.
// The buffers, the events and the thread handle are set up before the thread
// starts and released only after it has ended.
//
// Stopping. The stop asks the thread to end (stop flag, request event, and
// the abort flag, which ends the waits and retries of a read in progress)
// and waits for it. A synchronous device call that the abort flag cannot
// reach (the raw read of IOCTL mode, which holds the lock) is then cancelled
// through the system. Only a thread that still has not ended is terminated,
// and only while the stop itself holds the lock, so the thread cannot own it
// when it dies; a thread that keeps the lock past every bound is left
// running with its buffers, and the stop reports that it failed.
//
// Hand-over. A buffer is Empty, Requested or Filled. The consumer requests a
// buffer (Empty -> Requested) and signals the auto-reset request event; the
// thread fills the requested buffers in turn (Requested -> Filled, with the
// sector count, 0 at the end, -2 after a failed read); the consumer copies a
// Filled buffer out, marks it Empty, moves to the other one and requests it.
// Both sides alternate between the buffers, so they always agree which one
// is next.
//
// Synchronised mode keeps all its state on the consumer's thread: no lock.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "media/cd/MMASPI.h"
#include "media/cd/MMSPTI.h"

namespace {

using Fill = CDBurstState::Fill;

// The reader thread's stack: it only calls down through the read layer.
constexpr SIZE_T kBurstStackBytes = 16 * 1024;
// How long start-up waits for the thread to announce itself.
constexpr DWORD kBurstStartWaitMs = 5000;
// How long a stop waits for the thread to end before cancelling its device call.
constexpr DWORD kBurstStopWaitMs = 1000;
// The slices of the stop's wait: each re-asserts the abort flag, which a
// read starting just then would have cleared.
constexpr DWORD kBurstStopSliceMs = 10;
// The thread looks at its stop flag at least this often while idle.
constexpr DWORD kBurstIdleSliceMs = 250;
// How long the consumer waits for one buffer: three times an ASPI request's
// own limit. A drive that has delivered nothing by then is treated as failed.
constexpr DWORD kBurstFillWaitMs = 30000;
// How long a stop waits for a read in progress to let go of the device: one
// ASPI request's limit.
constexpr DWORD kBusyWaitMs = 10000;
// The count a buffer records when its read failed.
constexpr int kBurstReadFailed = -2;
// Bytes of a sector as the drive may deliver it before compaction.
constexpr int64_t kSectorRoom = CDLargeSectorSize;
// A read command carries its sector count in one byte.
constexpr int kMaxSectorsPerCommand = 255;
// Synchronised mode: the compared bytes start at this size and double on an
// ambiguous match up to the largest size.
constexpr int64_t kSyncFirstCompare = 128;
constexpr int64_t kSyncLargestCompare = 8192;
// Matching offsets are tried in steps of one stereo sample.
constexpr int64_t kSyncStep = 4;

void GiveWay() {
    if (!::SwitchToThread()) ::Sleep(1);
}

// Waits up to `limit` ms for the burst thread to end, asserting the abort
// flag on every slice (a read starting just then would have cleared it).
bool WaitForBurstThread(CDDeviceContext& context, DWORD limit) {
    const DWORD started = ::GetTickCount();
    for (;;) {
        context.abort = true;
        if (::WaitForSingleObject(context.burst.thread.get(), kBurstStopSliceMs) != WAIT_TIMEOUT) return true;
        if (::GetTickCount() - started >= limit) return false;
    }
}

// The last resort: ends the thread while this thread holds the context's
// lock, so the dying thread cannot hold it. False when the lock could not
// be had within one request's limit.
bool TerminateOutsideLock(CDDeviceContext& context) {
    const DWORD started = ::GetTickCount();
    while (!context.lock.TryEnter()) {
        if (::GetTickCount() - started >= kBusyWaitMs) return false;
        ::Sleep(1);
    }
    ::TerminateThread(context.burst.thread.get(), 0);
    ::WaitForSingleObject(context.burst.thread.get(), kBurstStopWaitMs);
    context.lock.Leave();
    return true;
}

DWORD WINAPI BurstThread(void* parameter) {
    CDDeviceContext& context = *static_cast<CDDeviceContext*>(parameter);
    CDBurstState& burst = context.burst;
    ::SetEvent(burst.signalEvent.get());
    while (!burst.stop) {
        if (::WaitForSingleObject(burst.requestEvent.get(), kBurstIdleSliceMs) != WAIT_OBJECT_0) continue;
        // One wake-up may stand for two requests: fill every requested buffer in turn.
        while (!burst.stop) {
            const int index = burst.fillIndex;
            int32_t first = 0;
            int n = 0;
            {
                wc::CriticalSectionLock hold(context.lock);
                if (burst.fill[size_t(index)] != Fill::Requested) break;
                first = burst.current;
                n = int(std::min<int32_t>(burst.sectorsPerRead, burst.remaining));
            }
            int count = 0;
            if (n > 0) {
                std::vector<uint8_t>& buffer = burst.buffers[size_t(index)];
                const int status = context.opened ? cdReadSectors(&context, buffer.data(), int64_t(buffer.size()),
                                                                  first, n)
                                                  : CDErrNotOpen;
                count = status == 0 ? n : kBurstReadFailed;
            }
            {
                wc::CriticalSectionLock hold(context.lock);
                burst.counts[size_t(index)] = count;
                burst.fill[size_t(index)] = Fill::Filled;
                burst.current += n;
                burst.remaining -= n;
            }
            burst.fillIndex = index ^ 1;
        }
    }
    ::SetEvent(burst.signalEvent.get());
    return 0;
}

// Releases what burst mode holds; the thread must have ended.
void FreeBurst(CDBurstState& burst) {
    burst.thread.reset();
    burst.requestEvent.reset();
    burst.signalEvent.reset();
    for (auto& buffer : burst.buffers) std::vector<uint8_t>().swap(buffer);
    burst.fill = {};
    burst.counts = {};
    burst.sectorsPerRead = 0;
    burst.current = burst.remaining = 0;
    burst.fillIndex = burst.readIndex = 0;
    burst.stop = false;
}

// The largest compare size for a pass of `passBytes`: a power of two from
// 128 up to 8192 that stays inside the compare block (a quarter of a pass).
int64_t LargestCompare(int64_t passBytes) {
    int64_t largest = kSyncLargestCompare;
    while (largest > kSyncFirstCompare && largest > passBytes / 4) largest /= 2;
    return largest;
}

bool AllZero(const uint8_t* bytes, int64_t count) {
    for (int64_t i = 0; i < count; ++i)
        if (bytes[i]) return false;
    return true;
}

// Finds where the previous pass's last quarter (`compare`) starts in this
// pass's data of `passBytes` bytes; -1 when it cannot be placed.
int64_t FindOverlap(const uint8_t* data, int64_t passBytes, const uint8_t* compare) {
    const int64_t largest = LargestCompare(passBytes);
    uint32_t head = 0;
    std::memcpy(&head, compare, sizeof(head));
    int64_t compared = kSyncFirstCompare;
    int64_t from = passBytes / 8;
    for (;;) {
        int64_t found = -1;
        bool ambiguous = false;
        for (int64_t offset = from; offset < passBytes - compared; offset += kSyncStep) {
            uint32_t word;
            std::memcpy(&word, data + offset, sizeof(word));
            if (word != head || std::memcmp(data + offset, compare, size_t(compared)) != 0) continue;
            if (found >= 0) {
                ambiguous = true;
                break;
            }
            found = offset;
        }
        if (!ambiguous) return found;
        if (compared < largest) {
            // A longer pattern, searched for from the start of the pass.
            compared *= 2;
            from = 0;
            continue;
        }
        // Still ambiguous at the largest size: only digital silence may be
        // taken as it stands, at the place an unshifted read puts it.
        return AllZero(data + found, compared) ? passBytes / 4 : -1;
    }
}

// Reads the next pass of synchronised mode and places its usable data.
int SyncPass(CDDeviceContext& context) {
    CDSyncState& sync = context.sync;
    const int64_t passBytes = int64_t(2) * sync.sectorsPerRead * CDRawSectorSize;
    const int n = int(std::min<int64_t>(int64_t(2) * sync.sectorsPerRead, int64_t(sync.end) - sync.current));
    if (n <= 0) {
        sync.wanted = 0;
        return 0;
    }
    const bool takeAsItIs = !sync.havePrevious || context.firstRead;
    std::fill(sync.data.begin(), sync.data.end(), uint8_t(0));
    const int status = cdReadSectors(&context, sync.data.data(), int64_t(sync.data.size()), sync.current, n);
    if (status != 0) return status;
    int64_t offset = 0;
    if (!takeAsItIs) {
        offset = FindOverlap(sync.data.data(), passBytes, sync.compare.data());
        if (offset < 0) return CDErrSync;
    }
    std::memcpy(sync.compare.data(), sync.data.data() + passBytes * 3 / 4, size_t(passBytes / 4));
    sync.outEnd = passBytes * 3 / 4;
    sync.outPos = std::min(offset, sync.outEnd);
    sync.current += sync.sectorsPerRead;
    sync.havePrevious = true;
    return 0;
}

}  // namespace

int cdStartBurst(CDDeviceContext* context, int32_t first, int32_t count, int sectorsPerRead) {
    if (!context) return CDErrInvalidHandle;
    if (!context->opened) return CDErrNotOpen;
    if (first < 0 || count < 0 || sectorsPerRead < 1 || sectorsPerRead > kMaxSectorsPerCommand)
        return CDErrInvalidParam;
    if (cdStopBurst(context) != 0) return CDErrStart;
    CDBurstState& burst = context->burst;
    try {
        for (auto& buffer : burst.buffers) buffer.assign(size_t(sectorsPerRead * kSectorRoom), uint8_t(0));
    } catch (const std::bad_alloc&) {
        FreeBurst(burst);
        return CDErrNoMemory;
    }
    burst.sectorsPerRead = sectorsPerRead;
    burst.current = first;
    burst.remaining = count;
    burst.requestEvent.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
    burst.signalEvent.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!burst.requestEvent || !burst.signalEvent) {
        FreeBurst(burst);
        return CDErrStart;
    }
    burst.thread.reset(
        ::CreateThread(nullptr, kBurstStackBytes, BurstThread, context, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!burst.thread) {
        FreeBurst(burst);
        return CDErrStart;
    }
    if (::WaitForSingleObject(burst.signalEvent.get(), kBurstStartWaitMs) != WAIT_OBJECT_0) {
        cdStopBurst(context);
        return CDErrStart;
    }
    return 0;
}

int cdReadBurst(CDDeviceContext* context, uint8_t* buffer, int64_t bufferSize) {
    if (!context) return CDErrInvalidHandle;
    CDBurstState& burst = context->burst;
    if (!burst.thread) return CDErrNotOpen;
    if (!buffer || bufferSize < int64_t(burst.sectorsPerRead) * CDRawSectorSize) return CDErrInvalidParam;
    const int index = burst.readIndex;
    const DWORD started = ::GetTickCount();
    int count = 0;
    for (;;) {
        {
            wc::CriticalSectionLock hold(context->lock);
            Fill& fill = burst.fill[size_t(index)];
            if (fill == Fill::Filled) {
                count = burst.counts[size_t(index)];
                break;
            }
            if (fill == Fill::Empty) {
                if (burst.remaining <= 0) return 0;
                fill = Fill::Requested;
                ::SetEvent(burst.requestEvent.get());
            }
        }
        // A thread that ended, or a drive that stays silent, leaves the buffer empty.
        if (::WaitForSingleObject(burst.thread.get(), 0) != WAIT_TIMEOUT ||
            ::GetTickCount() - started >= kBurstFillWaitMs)
            return CDErrRead;
        GiveWay();
    }
    if (count > 0)
        std::memcpy(buffer, burst.buffers[size_t(index)].data(), size_t(count) * CDRawSectorSize);
    {
        wc::CriticalSectionLock hold(context->lock);
        burst.fill[size_t(index)] = Fill::Empty;
        burst.readIndex = index ^ 1;
        Fill& next = burst.fill[size_t(index ^ 1)];
        if (next == Fill::Empty) {
            next = Fill::Requested;
            ::SetEvent(burst.requestEvent.get());
        }
    }
    return count < 0 ? CDErrRead : count;
}

int cdStopBurst(CDDeviceContext* context) {
    if (!context) return CDErrInvalidHandle;
    CDBurstState& burst = context->burst;
    if (burst.thread) {
        burst.stop = true;
        ::SetEvent(burst.requestEvent.get());
        bool ended = WaitForBurstThread(*context, kBurstStopWaitMs);
        if (!ended) {
            CDCurrentPlatform().CancelThreadRequest(burst.thread.get());
            ended = WaitForBurstThread(*context, kBusyWaitMs);
        }
        if (!ended && !TerminateOutsideLock(*context)) {
            context->abort = false;
            return CDErrStop;
        }
        // A terminated thread never clears its flag.
        context->busy = false;
        context->abort = false;
    }
    FreeBurst(burst);
    return 0;
}

int cdStartSync(CDDeviceContext* context, int32_t first, int32_t count, int sectorsPerRead) {
    if (!context) return CDErrInvalidHandle;
    if (!context->opened) return CDErrNotOpen;
    if (first < 0 || count < 0 || sectorsPerRead < 1 || 2 * sectorsPerRead > kMaxSectorsPerCommand)
        return CDErrInvalidParam;
    cdStopSync(context);
    CDSyncState& sync = context->sync;
    const int64_t passBytes = int64_t(2) * sectorsPerRead * CDRawSectorSize;
    try {
        sync.data.assign(size_t(int64_t(2) * sectorsPerRead * kSectorRoom), uint8_t(0));
        sync.compare.assign(size_t(passBytes / 4), uint8_t(0));
    } catch (const std::bad_alloc&) {
        cdStopSync(context);
        return CDErrNoMemory;
    }
    sync.sectorsPerRead = sectorsPerRead;
    sync.current = first;
    sync.end = int32_t(std::min<int64_t>(int64_t(first) + count, INT32_MAX));
    sync.wanted = int64_t(sync.end - first) * CDRawSectorSize;
    sync.havePrevious = false;
    sync.outPos = sync.outEnd = 0;
    sync.running = true;
    return 0;
}

int64_t cdReadSync(CDDeviceContext* context, uint8_t* buffer, int64_t bytes) {
    if (!context) return CDErrInvalidHandle;
    CDSyncState& sync = context->sync;
    if (!sync.running) return CDErrNotOpen;
    if (bytes < 0 || (!buffer && bytes > 0)) return CDErrInvalidParam;
    int64_t copied = 0;
    while (copied < bytes && sync.wanted > 0) {
        if (sync.outPos < sync.outEnd) {
            const int64_t n = std::min({sync.outEnd - sync.outPos, bytes - copied, sync.wanted});
            std::memcpy(buffer + copied, sync.data.data() + sync.outPos, size_t(n));
            sync.outPos += n;
            sync.wanted -= n;
            copied += n;
            continue;
        }
        const int status = SyncPass(*context);
        if (status != 0) return status;
    }
    return copied;
}

int cdStopSync(CDDeviceContext* context) {
    if (!context) return CDErrInvalidHandle;
    CDSyncState& sync = context->sync;
    std::vector<uint8_t>().swap(sync.data);
    std::vector<uint8_t>().swap(sync.compare);
    sync.running = false;
    sync.sectorsPerRead = 0;
    sync.current = sync.end = 0;
    sync.wanted = 0;
    sync.havePrevious = false;
    sync.outPos = sync.outEnd = 0;
    return 0;
}
