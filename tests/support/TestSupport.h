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
    // A chunk: its id, the size of `body`, the body and the pad byte of an odd body.
    ByteWriter& chunk(const char (&id)[5], const std::vector<uint8_t>& body);
    const std::vector<uint8_t>& data() const { return data_; }
    size_t size() const { return data_.size(); }
    void patch_u32(size_t at, uint32_t v);

private:
    std::vector<uint8_t> data_;
};

// Little-endian fields of a byte block; 0 where the block ends before the field does.
unsigned U16At(const std::vector<uint8_t>& bytes, size_t at);
uint32_t U32At(const std::vector<uint8_t>& bytes, size_t at);

// ---- wave files ----

constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagFloat = 3;
constexpr uint16_t kTagExtensible = 0xFFFE;

// The 16-byte body of a "fmt " chunk with these fields, as given (a corrupt
// format when the rates or the alignment are 0).
std::vector<uint8_t> FormatFields(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t byteRate, uint16_t align,
                                  uint16_t bits);
// The start of a RIFF WAVE form ("RIFF", a size for EndWaveForm to set,
// "WAVE"), for chunks to follow; EndWaveForm sets the size to what follows
// the size field and returns the file.
ByteWriter StartWaveForm();
std::vector<uint8_t> EndWaveForm(ByteWriter& form);
// A RIFF WAVE file of a "fmt " chunk with that body and a data chunk.
std::vector<uint8_t> MakeWaveOf(const std::vector<uint8_t>& fmt, const std::vector<uint8_t>& data);
// A RIFF WAVE file with a plain "fmt " chunk (16 bytes for PCM, 18 with a
// zero cbSize otherwise) and the data. With `subTag` the format is
// WAVE_FORMAT_EXTENSIBLE (a 40-byte "fmt ") with that tag-based sub-format,
// all bits valid and the first `channels` speaker positions.
std::vector<uint8_t> MakeWave(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                              const std::vector<uint8_t>& data, uint16_t subTag = 0);
// The same file as MakeWave without `subTag` would write, as a big-endian
// RIFX form: "RIFX", its sizes and format fields big-endian, and each
// sample of `data` (given little-endian) with its bytes reversed.
std::vector<uint8_t> MakeRifxWave(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                                  const std::vector<uint8_t>& data);
// A canonical PCM wave: MakeWave with the PCM tag.
std::vector<uint8_t> MakePcmWave(uint16_t channels, uint32_t rate, uint16_t bits, const std::vector<uint8_t>& samples);
// The body of the first chunk `id` behind "WAVE" of a RIFF WAVE file (the
// size as declared, cut to the file); empty when there is none or the file
// is no RIFF WAVE form.
std::vector<uint8_t> ChunkOf(const std::vector<uint8_t>& file, const char (&id)[5]);

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
// Deterministic bytes: a linear congruential sequence from `seed`.
std::vector<uint8_t> PatternBytes(size_t count, uint32_t seed);
// Bytes 0, 1, 2, ... (mod 251), so that any misplaced block shows.
std::vector<uint8_t> Counting(size_t count);

// The text of the error of class `Error` that `action` raises; "(nothing
// raised)" when it returns.
template <class Error>
std::string ErrorText(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& error) {
        return error.what();
    }
    return "(nothing raised)";
}

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
// Polls `condition` every 20 ms until it holds; false when `timeout` passes
// first. Dispatches nothing: for a thread that owns no window (a driver).
constexpr std::chrono::milliseconds kDialogWait{10000};
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = kDialogWait);
// A visible top-level window of that process (0: any) with that class and/or title.
HWND FindTopWindow(DWORD processId, const std::wstring& className, const std::wstring& title);
// A descendant window whose text is exactly `text`, or reads as `text` once
// its accelerator marks are dropped ("&Source File" for "Source File"), and
// of that class, when given.
HWND FindChild(HWND parent, const std::wstring& text, const std::wstring& className = L"");
// A descendant window with that control id.
HWND FindChildById(HWND parent, int id);
std::vector<HWND> Descendants(HWND parent);
// A window's bounds in its parent's client coordinates.
RECT BoundsInParent(HWND window);
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
