// Helpers shared by the tests: temporary folders, files, wave fixtures,
// and finding and driving real windows (of this or another process).
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "framework/Handles.h"

namespace testing_support {

// A fresh folder under the system's temporary folder, removed with its contents.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "wc");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

void RemoveTree(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFileBytes(const std::string& path);
// The same for names outside the code page.
void RemoveTree(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFileBytes(const std::wstring& path);
bool CopyFileTo(const std::string& from, const std::string& to);
std::string ProgramDir();  // the folder of the running test executable (build/bin)
// The threads of this process, -1 when they cannot be listed.
int ThreadCount();
// The handles open in this process.
DWORD HandleCount();

// Little-endian byte building for file fixtures.
class ByteWriter {
public:
    ByteWriter& u8(uint8_t v);
    ByteWriter& u16(uint16_t v);
    ByteWriter& u32(uint32_t v);
    ByteWriter& i16(int16_t v) { return u16(uint16_t(v)); }
    ByteWriter& tag(const char (&fourcc)[5]);
    ByteWriter& bytes(const std::vector<uint8_t>& data);
    const std::vector<uint8_t>& data() const { return data_; }
    size_t size() const { return data_.size(); }
    void patch_u32(size_t at, uint32_t v);

private:
    std::vector<uint8_t> data_;
};

// A canonical PCM RIFF WAVE file ("fmt " of 16 bytes, then "data").
std::vector<uint8_t> MakePcmWave(uint16_t channels, uint32_t rate, uint16_t bits, const std::vector<uint8_t>& samples);
// The body of the first chunk `id` behind "WAVE" of a RIFF file (the size as
// declared, cut to the file); empty when there is none.
std::vector<uint8_t> RiffChunkBody(const std::vector<uint8_t>& file, const char (&id)[5]);
// A RIFF WAVE file of a "fmt " chunk with that body and a data chunk.
std::vector<uint8_t> MakeWaveOf(const std::vector<uint8_t>& fmt, const std::vector<uint8_t>& data);

// The form header of an RF64 or BW64 file (`form`) with its "ds64" chunk of
// these RIFF and data sizes (36 bytes); with a `listSize` the chunk's table
// gives the size of a "LIST" chunk (48 bytes). The size fields that ds64
// stands in for are the caller's to write as 0xFFFFFFFF.
ByteWriter Rf64Form(const char (&form)[5], uint64_t riffSize, uint64_t dataSize, uint64_t listSize = 0);
// Writes `head` at the file's start and `tail` at offset `at`: the bytes
// between are a hole that costs no disk space.
void WriteSparseFile(const std::string& path, const std::vector<uint8_t>& head, uint64_t at,
                     const std::vector<uint8_t>& tail);

// A wave file whose samples are followed by bytes that are no samples: the
// pad byte of odd-length data, a chunk behind the data, a tag appended after
// the RIFF form (ID3 or a 128-byte "TAG" block), bytes beyond a data size
// smaller than the rest of the form.
struct TrailedWave {
    const char* name;
    uint16_t channels;
    uint16_t bits;
    std::vector<uint8_t> samples;  // exactly what the data chunk declares
    std::vector<uint8_t> file;
};
std::vector<TrailedWave> WavesWithTrailers();
// Deterministic 16-bit samples (a sweep with a little noise), interleaved.
std::vector<uint8_t> MakeTestSamples16(uint16_t channels, uint32_t frames, uint32_t seed = 1);

// ---- windows ----

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kWindowTimeout{15000};

std::wstring WindowText(HWND window);
std::wstring ClassNameOf(HWND window);
// Polls `find` (every 20 ms, messages of this thread dispatched) until it returns a window.
HWND WaitFor(const std::function<HWND()>& find, std::chrono::milliseconds timeout = kWindowTimeout);
// Dispatches the application's messages every 2 ms until `done` holds; false
// when `timeout` passes first.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(20));
// A visible top-level window of that process (0: any) with that class and/or title.
HWND FindTopWindow(DWORD processId, const std::wstring& className, const std::wstring& title);
// A descendant window whose text is exactly `text`, or reads as `text` once
// its accelerator marks are dropped ("&Source File" for "Source File"), and
// of that class, when given.
HWND FindChild(HWND parent, const std::wstring& text, const std::wstring& className = L"");
// A descendant window with that control id.
HWND FindChildById(HWND parent, int id);
std::vector<HWND> Descendants(HWND parent);
// Clicks a control with a posted press and release at its centre.
void Click(HWND control);
// The text of a message box and its dismissal with its OK button.
std::wstring MessageBoxText(HWND box);
void PressOk(HWND dialog);
void SetText(HWND window, const std::wstring& text);

// A program started for a test, ended (if still running) when this goes.
class ChildProcess {
public:
    // With `standardOutput` set, the program's standard output goes into that file.
    ChildProcess(const std::string& exe, const std::string& arguments, const std::string& workingDir,
                 const std::string& standardOutput = {});
    ~ChildProcess();
    DWORD id() const { return id_; }
    HANDLE handle() const { return process_.get(); }
    // Waits for it to end; false on time-out.
    bool Wait(std::chrono::milliseconds timeout);

private:
    wc::KernelHandle process_;
    DWORD id_ = 0;
};

// The real converter, copied beside the test programs: the outside oracle.
std::string FfmpegPath();
// Runs the converter quietly (no banner, errors only, no console input,
// overwriting its output) with `arguments` in `folder`. True when it ended
// with exit code 0 within `limit`. With `standardOutput` set, the
// converter's standard output goes into that file.
bool RunFfmpeg(const std::string& arguments, const std::string& folder,
               std::chrono::seconds limit = std::chrono::seconds(120), const std::string& standardOutput = {});

}  // namespace testing_support
