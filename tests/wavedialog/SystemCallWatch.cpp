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
    std::map<HANDLE, std::string> openFiles;  // handle -> upper-case name
    int openDevices = 0;
    int deviceOpens = 0;
    std::vector<DWORD> writes;
    DWORD readDelayMs = 0;
    LONG slowReadBytes = 0;
    std::unique_ptr<ImportPatch> open, close, read, outOpen, outClose, outWrite;
};
std::unique_ptr<State> state;

std::string Key(const char* name) { return wc::UpperCase(name ? name : ""); }

// The chooser's files are wave files; the program opens others too (its
// own fixtures, the device's output), which are not watched.
bool IsWaveName(const std::string& key) { return key.size() > 4 && key.compare(key.size() - 4, 4, ".WAV") == 0; }

HANDLE WINAPI WatchedOpen(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD creation,
                          DWORD flags, HANDLE model) {
    const std::string key = Key(name ? wc::FromWide(name).c_str() : nullptr);
    HANDLE file = state->open->original<decltype(&::CreateFileW)>()(name, access, share, security, creation, flags, model);
    if (file != INVALID_HANDLE_VALUE && IsWaveName(key)) {
        std::lock_guard lock(state->mutex);
        ++state->opens[key];
        state->openFiles[file] = key;
    }
    return file;
}

BOOL WINAPI WatchedClose(HANDLE handle) {
    {
        std::lock_guard lock(state->mutex);
        state->openFiles.erase(handle);
    }
    return state->close->original<decltype(&::CloseHandle)>()(handle);
}

BOOL WINAPI WatchedRead(HANDLE file, LPVOID buffer, DWORD count, LPDWORD got, LPOVERLAPPED at) {
    DWORD delay = 0;
    {
        std::lock_guard lock(state->mutex);
        if (state->readDelayMs && LONG(count) >= state->slowReadBytes && state->openFiles.count(file))
            delay = state->readDelayMs;
    }
    if (delay) ::Sleep(delay);
    DWORD read = 0;
    const BOOL done = state->read->original<decltype(&::ReadFile)>()(file, buffer, count, &read, at);
    if (got) *got = read;
    if (read > 0) {
        std::lock_guard lock(state->mutex);
        const auto named = state->openFiles.find(file);
        if (named != state->openFiles.end()) state->bytesRead[named->second] += read;
    }
    return done;
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
    state->open = std::make_unique<ImportPatch>("kernel32.dll", "CreateFileW", Address(&WatchedOpen));
    state->close = std::make_unique<ImportPatch>("kernel32.dll", "CloseHandle", Address(&WatchedClose));
    state->read = std::make_unique<ImportPatch>("kernel32.dll", "ReadFile", Address(&WatchedRead));
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
