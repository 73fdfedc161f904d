// Threads: the replacements run on whichever thread calls (the dialog's,
// the scan's reader, the wave output's); `mutex` guards every field of State.
#include "SystemCallWatch.h"

#include <mmsystem.h>

#include <map>
#include <memory>
#include <mutex>

#include "framework/Strings.h"
#include "support/ImportPatch.h"

namespace wavedialog_tests {

namespace {

using testing_support::ImportPatch;

struct State {
    std::mutex mutex;
    std::map<std::string, int> opens;         // upper-case name -> count
    std::map<std::string, int64_t> bytesRead;  // upper-case name -> bytes
    std::map<HMMIO, std::string> openFiles;   // handle -> upper-case name
    int openDevices = 0;
    int deviceOpens = 0;
    std::vector<DWORD> writes;
    DWORD readDelayMs = 0;
    LONG slowReadBytes = 0;
    std::unique_ptr<ImportPatch> open, close, read, outOpen, outClose, outWrite;
};
std::unique_ptr<State> state;

std::string Key(const char* name) { return wc::UpperCase(name ? name : ""); }

HMMIO WINAPI WatchedOpen(LPSTR name, LPMMIOINFO info, DWORD flags) {
    const std::string key = Key(name);  // before the call: it may write the full path back
    HMMIO file = state->open->original<decltype(&::mmioOpenA)>()(name, info, flags);
    // Asking whether a file exists, parsing or deleting a name open nothing.
    if (file && !(flags & (MMIO_EXIST | MMIO_PARSE | MMIO_DELETE | MMIO_GETTEMP))) {
        std::lock_guard lock(state->mutex);
        ++state->opens[key];
        state->openFiles[file] = key;
    }
    return file;
}

MMRESULT WINAPI WatchedClose(HMMIO file, UINT flags) {
    {
        std::lock_guard lock(state->mutex);
        state->openFiles.erase(file);
    }
    return state->close->original<decltype(&::mmioClose)>()(file, flags);
}

LONG WINAPI WatchedRead(HMMIO file, HPSTR buffer, LONG count) {
    DWORD delay = 0;
    {
        std::lock_guard lock(state->mutex);
        if (state->readDelayMs && count >= state->slowReadBytes) delay = state->readDelayMs;
    }
    if (delay) ::Sleep(delay);
    const LONG got = state->read->original<decltype(&::mmioRead)>()(file, buffer, count);
    if (got > 0) {
        std::lock_guard lock(state->mutex);
        const auto named = state->openFiles.find(file);
        if (named != state->openFiles.end()) state->bytesRead[named->second] += got;
    }
    return got;
}

MMRESULT WINAPI WatchedOutOpen(LPHWAVEOUT device, UINT id, LPCWAVEFORMATEX format, DWORD_PTR callback,
                               DWORD_PTR instance, DWORD flags) {
    const MMRESULT result =
        state->outOpen->original<decltype(&::waveOutOpen)>()(device, id, format, callback, instance, flags);
    if (result == MMSYSERR_NOERROR && device && !(flags & WAVE_FORMAT_QUERY)) {
        std::lock_guard lock(state->mutex);
        ++state->openDevices;
        ++state->deviceOpens;
    }
    return result;
}

MMRESULT WINAPI WatchedOutClose(HWAVEOUT device) {
    const MMRESULT result = state->outClose->original<decltype(&::waveOutClose)>()(device);
    if (result == MMSYSERR_NOERROR) {
        std::lock_guard lock(state->mutex);
        --state->openDevices;
    }
    return result;
}

MMRESULT WINAPI WatchedOutWrite(HWAVEOUT device, LPWAVEHDR header, UINT size) {
    if (header) {
        std::lock_guard lock(state->mutex);
        state->writes.push_back(header->dwBufferLength);
    }
    return state->outWrite->original<decltype(&::waveOutWrite)>()(device, header, size);
}

template <class Function>
void* Address(Function function) {
    return reinterpret_cast<void*>(function);
}

}  // namespace

SystemCallWatch::SystemCallWatch() {
    state = std::make_unique<State>();
    state->open = std::make_unique<ImportPatch>("winmm.dll", "mmioOpenA", Address(&WatchedOpen));
    state->close = std::make_unique<ImportPatch>("winmm.dll", "mmioClose", Address(&WatchedClose));
    state->read = std::make_unique<ImportPatch>("winmm.dll", "mmioRead", Address(&WatchedRead));
    state->outOpen = std::make_unique<ImportPatch>("winmm.dll", "waveOutOpen", Address(&WatchedOutOpen));
    state->outClose = std::make_unique<ImportPatch>("winmm.dll", "waveOutClose", Address(&WatchedOutClose));
    state->outWrite = std::make_unique<ImportPatch>("winmm.dll", "waveOutWrite", Address(&WatchedOutWrite));
}

SystemCallWatch::~SystemCallWatch() {
    {
        // The originals come back first; a call already inside a replacement still finds the state.
        std::unique_ptr<ImportPatch> patches[] = {std::move(state->open),    std::move(state->close),
                                                  std::move(state->read),    std::move(state->outOpen),
                                                  std::move(state->outClose), std::move(state->outWrite)};
        for (auto& patch : patches) patch.reset();
    }
    // No thread of the chooser is left to be inside a replacement: its dialog has closed.
    state.reset();
}

bool SystemCallWatch::Complete() const {
    return state->open->active() && state->close->active() && state->read->active() && state->outOpen->active() &&
           state->outClose->active() && state->outWrite->active();
}

int SystemCallWatch::OpensOf(const std::string& path) const {
    std::lock_guard lock(state->mutex);
    const auto found = state->opens.find(Key(path.c_str()));
    return found == state->opens.end() ? 0 : found->second;
}

int SystemCallWatch::OpenFiles() const {
    std::lock_guard lock(state->mutex);
    return int(state->openFiles.size());
}

int64_t SystemCallWatch::BytesReadFrom(const std::string& path) const {
    std::lock_guard lock(state->mutex);
    const auto found = state->bytesRead.find(Key(path.c_str()));
    return found == state->bytesRead.end() ? 0 : found->second;
}

int SystemCallWatch::OpenDevices() const {
    std::lock_guard lock(state->mutex);
    return state->openDevices;
}

int SystemCallWatch::DeviceOpens() const {
    std::lock_guard lock(state->mutex);
    return state->deviceOpens;
}

std::vector<DWORD> SystemCallWatch::Writes() const {
    std::lock_guard lock(state->mutex);
    return state->writes;
}

void SystemCallWatch::ClearWrites() {
    std::lock_guard lock(state->mutex);
    state->writes.clear();
}

void SystemCallWatch::SlowReads(DWORD delayMs, LONG minBytes) {
    std::lock_guard lock(state->mutex);
    state->readDelayMs = delayMs;
    state->slowReadBytes = minBytes;
}

}  // namespace wavedialog_tests
