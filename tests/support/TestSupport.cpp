#include "TestSupport.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <thread>

#include "controls/ButtonAccessible.h"
#include "framework/Files.h"
#include "framework/Forms.h"
#include "framework/Strings.h"

namespace testing_support {

TempDir::TempDir(const std::string& prefix) {
    char base[MAX_PATH];
    ::GetTempPathA(MAX_PATH, base);
    static unsigned counter = 0;
    for (;;) {
        path_ = std::string(base) + prefix + "_" + std::to_string(::GetCurrentProcessId()) + "_" +
                std::to_string(++counter);
        if (::CreateDirectoryA(path_.c_str(), nullptr)) break;
        if (::GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("cannot create " + path_);
    }
}

TempDir::~TempDir() { RemoveTree(path_); }

void RemoveTree(const std::string& path) { RemoveTree(wc::ToWide(path)); }

// Wide, so that names outside the code page are removed too.
void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(child.c_str());
            }
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryW(path.c_str());
}

void WriteFileBytes(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    wc::FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    if (!file || (!bytes.empty() && (!::WriteFile(file.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr) ||
                                     written != bytes.size())))
        throw std::runtime_error("cannot write " + wc::PathFromWide(path));
}

std::vector<uint8_t> ReadFileBytes(const std::wstring& path) {
    wc::FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    if (!file) throw std::runtime_error("cannot read " + wc::PathFromWide(path));
    std::vector<uint8_t> bytes(::GetFileSize(file.get(), nullptr));
    DWORD read = 0;
    if (!bytes.empty()) ::ReadFile(file.get(), bytes.data(), DWORD(bytes.size()), &read, nullptr);
    bytes.resize(read);
    return bytes;
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    wc::FileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) throw std::runtime_error("cannot write " + path);
    DWORD written = 0;
    if (!bytes.empty() && (!::WriteFile(file.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr) ||
                           written != bytes.size()))
        throw std::runtime_error("short write to " + path);
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    wc::FileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    if (!file) throw std::runtime_error("cannot read " + path);
    std::vector<uint8_t> bytes(::GetFileSize(file.get(), nullptr));
    DWORD read = 0;
    if (!bytes.empty()) ::ReadFile(file.get(), bytes.data(), DWORD(bytes.size()), &read, nullptr);
    bytes.resize(read);
    return bytes;
}

bool CopyFileTo(const std::string& from, const std::string& to) { return ::CopyFileA(from.c_str(), to.c_str(), FALSE); }

std::string ProgramDir() { return wc::ExtractFileDir(wc::ExecutablePath()); }

int ThreadCount() {
    wc::FileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry))
        if (entry.th32OwnerProcessID == ::GetCurrentProcessId()) ++count;
    return count;
}

// Where the system does not keep the count (Wine answers 0), every handle
// value up to 4096 is asked whether it is open: Wine hands out the lowest
// free values, and a test process holds a few dozen.
DWORD HandleCount() {
    DWORD count = 0;
    if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count > 0) return count;
    constexpr uintptr_t kLargestProbedHandle = 0x1000;
    for (uintptr_t value = 4; value <= kLargestProbedHandle; value += 4) {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

ByteWriter& ByteWriter::u8(uint8_t v) {
    data_.push_back(v);
    return *this;
}
ByteWriter& ByteWriter::u16(uint16_t v) { return u8(uint8_t(v)).u8(uint8_t(v >> 8)); }
ByteWriter& ByteWriter::u32(uint32_t v) { return u16(uint16_t(v)).u16(uint16_t(v >> 16)); }
ByteWriter& ByteWriter::tag(const char (&fourcc)[5]) {
    for (int i = 0; i < 4; ++i) u8(uint8_t(fourcc[i]));
    return *this;
}
ByteWriter& ByteWriter::bytes(const std::vector<uint8_t>& data) {
    data_.insert(data_.end(), data.begin(), data.end());
    return *this;
}
ByteWriter& ByteWriter::chunk(const char (&id)[5], const std::vector<uint8_t>& body) {
    tag(id).u32(uint32_t(body.size())).bytes(body);
    return body.size() & 1 ? u8(0) : *this;
}
void ByteWriter::patch_u32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) data_.at(at + i) = uint8_t(v >> (8 * i));
}

unsigned U16At(const std::vector<uint8_t>& bytes, size_t at) {
    return at + 2 <= bytes.size() ? unsigned(bytes[at] | bytes[at + 1] << 8) : 0;
}

uint32_t U32At(const std::vector<uint8_t>& bytes, size_t at) {
    return at + 4 <= bytes.size() ? uint32_t(U16At(bytes, at)) | uint32_t(U16At(bytes, at + 2)) << 16 : 0;
}

std::vector<uint8_t> FormatFields(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t byteRate, uint16_t align,
                                  uint16_t bits) {
    ByteWriter w;
    w.u16(tag).u16(channels).u32(rate).u32(byteRate).u16(align).u16(bits);
    return w.data();
}

ByteWriter StartWaveForm() {
    ByteWriter w;
    w.tag("RIFF").u32(0).tag("WAVE");
    return w;
}

std::vector<uint8_t> EndWaveForm(ByteWriter& form) {
    form.patch_u32(4, uint32_t(form.size() - 8));
    return form.data();
}

std::vector<uint8_t> MakeWaveOf(const std::vector<uint8_t>& fmt, const std::vector<uint8_t>& data) {
    ByteWriter w = StartWaveForm();
    w.chunk("fmt ", fmt).chunk("data", data);
    return EndWaveForm(w);
}

std::vector<uint8_t> MakeWave(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                              const std::vector<uint8_t>& data, uint16_t subTag) {
    const uint16_t blockAlign = uint16_t(channels * ((bits + 7) / 8));
    ByteWriter fmt;
    fmt.bytes(FormatFields(subTag ? kTagExtensible : tag, channels, rate, rate * blockAlign, blockAlign, bits));
    if (subTag) {
        // cbSize, valid bits, channel mask, then the sub-format GUID
        // {tag-0000-0010-8000-00AA00389B71}.
        fmt.u16(22).u16(bits).u32((1u << channels) - 1).u32(subTag).u16(0x0000).u16(0x0010);
        for (uint8_t b : {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}) fmt.u8(b);
    } else if (tag != kTagPcm) {
        fmt.u16(0);
    }
    return MakeWaveOf(fmt.data(), data);
}

std::vector<uint8_t> MakeRifxWave(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                                  const std::vector<uint8_t>& data) {
    auto file = MakeWave(tag, channels, rate, bits, data);
    const auto reverse = [&](size_t at, size_t width) { std::reverse(file.begin() + at, file.begin() + at + width); };
    // MakeWave's layout: form header 12, "fmt " header 8, the record (16, or 18 with cbSize), "data" header 8.
    const size_t fmtBytes = tag == kTagPcm ? 16 : 18, dataAt = 20 + fmtBytes + 8;
    std::copy_n("RIFX", 4, file.begin());
    reverse(4, 4), reverse(16, 4), reverse(dataAt - 4, 4);
    // The record's fields: tag, channels, rate, byte rate, block, bits, cbSize.
    static constexpr std::pair<size_t, size_t> kFields[] = {{0, 2}, {2, 2}, {4, 4}, {8, 4}, {12, 2}, {14, 2}, {16, 2}};
    for (const auto& [at, width] : kFields)
        if (at + width <= fmtBytes) reverse(20 + at, width);
    const size_t container = (bits + 7) / 8;
    for (size_t at = dataAt; at + container <= dataAt + data.size(); at += container) reverse(at, container);
    return file;
}

std::vector<uint8_t> MakePcmWave(uint16_t channels, uint32_t rate, uint16_t bits,
                                 const std::vector<uint8_t>& samples) {
    return MakeWave(kTagPcm, channels, rate, bits, samples);
}

std::vector<uint8_t> ChunkOf(const std::vector<uint8_t>& file, const char (&id)[5]) {
    if (file.size() < 12 || !std::equal(file.begin(), file.begin() + 4, "RIFF") ||
        !std::equal(file.begin() + 8, file.begin() + 12, "WAVE"))
        return {};
    uint64_t at = 12;
    while (at + 8 <= file.size()) {
        const uint64_t size = U32At(file, size_t(at + 4));
        const uint64_t body = at + 8;
        const uint64_t end = std::min<uint64_t>(body + size, file.size());
        if (std::equal(id, id + 4, file.begin() + std::ptrdiff_t(at)))
            return {file.begin() + std::ptrdiff_t(body), file.begin() + std::ptrdiff_t(end)};
        at = body + size + (size & 1);
    }
    return {};
}

ByteWriter Rf64Form(const char (&form)[5], uint64_t riffSize, uint64_t dataSize, uint64_t listSize) {
    ByteWriter w;
    w.tag(form).u32(0xFFFFFFFF).tag("WAVE");
    w.tag("ds64").u32(listSize ? 40 : 28).u32(uint32_t(riffSize)).u32(uint32_t(riffSize >> 32));
    w.u32(uint32_t(dataSize)).u32(uint32_t(dataSize >> 32)).u32(0).u32(0).u32(listSize ? 1 : 0);
    if (listSize) w.tag("LIST").u32(uint32_t(listSize)).u32(uint32_t(listSize >> 32));
    return w;
}

void WriteSparseFile(const std::string& path, const std::vector<uint8_t>& head, uint64_t at,
                     const std::vector<uint8_t>& tail) {
    wc::FileHandle file(::CreateFileW(wc::ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw std::runtime_error("cannot create " + path);
    LARGE_INTEGER offset;
    offset.QuadPart = LONGLONG(at);
    DWORD done = 0;
    if (!::WriteFile(file.get(), head.data(), DWORD(head.size()), &done, nullptr) ||
        !::SetFilePointerEx(file.get(), offset, nullptr, FILE_BEGIN) ||
        !::WriteFile(file.get(), tail.data(), DWORD(tail.size()), &done, nullptr))
        throw std::runtime_error("cannot write " + path);
}

std::vector<TrailedWave> WavesWithTrailers() {
    std::vector<uint8_t> odd8(1001);
    for (size_t i = 0; i < odd8.size(); ++i) odd8[i] = uint8_t(40 + i % 177);
    const auto stereo = MakeTestSamples16(2, 700, 3);
    const auto mono = MakeTestSamples16(1, 1201, 4);
    const auto withTail = [](std::vector<uint8_t> file, const std::vector<uint8_t>& tail) {
        file.insert(file.end(), tail.begin(), tail.end());
        return file;
    };
    // An ID3v2.3 tag: header (syncsafe size 17), one TIT2 frame of 7 bytes.
    const std::vector<uint8_t> id3Bytes = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 17, 'T', 'I', 'T', '2', 0, 0, 0, 7,
                                           0,   0,   0,   'S', 'o', 'n', 'g', '!', '!'};
    std::vector<uint8_t> tag128(128, ' ');
    std::copy_n("TAGTitle", 8, tag128.begin());
    ByteWriter list;
    list.tag("LIST").u32(4 + 8 + 6).tag("INFO").tag("INAM").u32(6).bytes({'T', 'i', 't', 'l', 'e', 0});
    // Data declared smaller than the form: the form (RIFF size included)
    // runs on over 300 bytes of 0x7F that no size counts as samples.
    std::vector<uint8_t> smaller = MakePcmWave(1, 8000, 16, mono);
    smaller.insert(smaller.end(), 300, 0x7F);
    const uint32_t riff = uint32_t(smaller.size() - 8);
    for (int i = 0; i < 4; ++i) smaller[4 + size_t(i)] = uint8_t(riff >> (8 * i));
    std::vector<uint8_t> listed = withTail(MakePcmWave(1, 8000, 8, odd8), list.data());
    const uint32_t listedRiff = uint32_t(listed.size() - 8);
    for (int i = 0; i < 4; ++i) listed[4 + size_t(i)] = uint8_t(listedRiff >> (8 * i));
    return {
        {"odd 8-bit mono, pad byte", 1, 8, odd8, MakePcmWave(1, 8000, 8, odd8)},
        {"ID3 after the form", 2, 16, stereo, withTail(MakePcmWave(2, 22050, 16, stereo), id3Bytes)},
        {"TAG after the form", 2, 16, stereo, withTail(MakePcmWave(2, 22050, 16, stereo), tag128)},
        {"LIST after odd data", 1, 8, odd8, listed},
        {"declared smaller than the form", 1, 16, mono, smaller},
    };
}

std::vector<uint8_t> PatternBytes(size_t count, uint32_t seed) {
    std::vector<uint8_t> out(count);
    for (auto& b : out) {
        seed = seed * 1664525u + 1013904223u;
        b = uint8_t(seed >> 24);
    }
    return out;
}

std::vector<uint8_t> Counting(size_t count) {
    std::vector<uint8_t> out(count);
    for (size_t i = 0; i < count; ++i) out[i] = uint8_t(i % 251);
    return out;
}

std::vector<uint8_t> MakeTestSamples16(uint16_t channels, uint32_t frames, uint32_t seed) {
    std::vector<uint8_t> out;
    out.reserve(size_t(frames) * channels * 2);
    uint32_t noise = seed;
    for (uint32_t i = 0; i < frames; ++i) {
        for (uint16_t c = 0; c < channels; ++c) {
            noise = noise * 1664525u + 1013904223u;
            const double phase = double(i) * (0.01 + 0.00002 * i) + c;
            const int value = int(12000.0 * std::sin(phase)) + int(noise >> 24) - 128;
            const auto sample = int16_t(value);
            out.push_back(uint8_t(sample));
            out.push_back(uint8_t(uint16_t(sample) >> 8));
        }
    }
    return out;
}

std::wstring WindowText(HWND window) {
    const int length = int(::SendMessageW(window, WM_GETTEXTLENGTH, 0, 0));
    std::wstring text(size_t(length) + 1, L'\0');
    const int got = int(::SendMessageW(window, WM_GETTEXT, WPARAM(text.size()), LPARAM(text.data())));
    text.resize(size_t(got));
    return text;
}

std::wstring ClassNameOf(HWND window) {
    wchar_t name[256] = L"";
    ::GetClassNameW(window, name, 256);
    return name;
}

static void PumpThisThread() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        wc::Application().ProcessMessages();
        ::Sleep(2);
    }
    return true;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() > deadline) return false;
        ::Sleep(20);
    }
    return true;
}

HWND WaitFor(const std::function<HWND()>& find, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (HWND found = find()) return found;
        if (Clock::now() > deadline) return nullptr;
        PumpThisThread();
        ::Sleep(20);
    }
}

namespace {
struct TopSearch {
    DWORD processId;
    const std::wstring* className;
    const std::wstring* title;
    HWND found;
};
BOOL CALLBACK MatchTop(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<TopSearch*>(data);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (search->processId && owner != search->processId) return TRUE;
    if (!::IsWindowVisible(window)) return TRUE;
    if (!search->className->empty() && ClassNameOf(window) != *search->className) return TRUE;
    if (!search->title->empty() && WindowText(window) != *search->title) return TRUE;
    search->found = window;
    return FALSE;
}
}  // namespace

HWND FindTopWindow(DWORD processId, const std::wstring& className, const std::wstring& title) {
    TopSearch search{processId, &className, &title, nullptr};
    ::EnumWindows(MatchTop, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

static BOOL CALLBACK CollectWindow(HWND window, LPARAM data) {
    reinterpret_cast<std::vector<HWND>*>(data)->push_back(window);
    return TRUE;
}

std::vector<HWND> Descendants(HWND parent) {
    std::vector<HWND> all;
    ::EnumChildWindows(parent, CollectWindow, reinterpret_cast<LPARAM>(&all));
    return all;
}

HWND FindChild(HWND parent, const std::wstring& text, const std::wstring& className) {
    for (HWND child : Descendants(parent)) {
        const std::wstring shown = WindowText(child);
        if ((shown == text || CaptionWithoutAccelerator(shown) == text) &&
            (className.empty() || ClassNameOf(child) == className))
            return child;
    }
    return nullptr;
}

HWND FindChildById(HWND parent, int id) {
    for (HWND child : Descendants(parent))
        if (::GetDlgCtrlID(child) == id) return child;
    return nullptr;
}

RECT BoundsInParent(HWND window) {
    RECT bounds{};
    ::GetWindowRect(window, &bounds);
    ::MapWindowPoints(nullptr, ::GetParent(window), reinterpret_cast<POINT*>(&bounds), 2);
    return bounds;
}

void Click(HWND control) {
    RECT area;
    ::GetClientRect(control, &area);
    const LPARAM centre = MAKELPARAM((area.right - area.left) / 2, (area.bottom - area.top) / 2);
    ::PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, centre);
    ::PostMessageW(control, WM_LBUTTONUP, 0, centre);
}

std::wstring MessageBoxText(HWND box) {
    // The message box shows its text in a static control with id 0xFFFF.
    HWND text = FindChildById(box, 0xFFFF);
    return text ? WindowText(text) : std::wstring();
}

void PressOk(HWND dialog) { ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0); }

void SetText(HWND window, const std::wstring& text) {
    ::SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

ChildProcess::ChildProcess(const std::string& exe, const std::string& arguments, const std::string& workingDir,
                           const std::string& standardOutput) {
    std::string commandLine = "\"" + exe + "\"" + (arguments.empty() ? "" : " " + arguments);
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    wc::FileHandle output;
    if (!standardOutput.empty()) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        output.reset(::CreateFileA(standardOutput.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!output) throw std::runtime_error("cannot create " + standardOutput);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output.get();
        startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    }
    PROCESS_INFORMATION created{};
    // Only a redirected child inherits handles: the one it needs is the output file.
    if (!::CreateProcessA(exe.c_str(), mutableLine.data(), nullptr, nullptr, output ? TRUE : FALSE, 0, nullptr,
                          workingDir.empty() ? nullptr : workingDir.c_str(), &startup, &created))
        throw std::runtime_error("cannot start " + exe);
    process_.reset(created.hProcess);
    ::CloseHandle(created.hThread);
    id_ = created.dwProcessId;
    ::WaitForInputIdle(process_.get(), 10000);
}

ChildProcess::~ChildProcess() {
    if (process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(process_.get(), 1);
        ::WaitForSingleObject(process_.get(), 5000);
    }
}

bool ChildProcess::Wait(std::chrono::milliseconds timeout) {
    return ::WaitForSingleObject(process_.get(), DWORD(timeout.count())) == WAIT_OBJECT_0;
}

std::string FfmpegPath() { return ProgramDir() + "\\extras\\ffmpeg.exe"; }

bool RunFfmpeg(const std::string& arguments, const std::string& folder, std::chrono::seconds limit,
               const std::string& standardOutput) {
    ChildProcess ffmpeg(FfmpegPath(), "-hide_banner -loglevel error -nostdin -y " + arguments, folder, standardOutput);
    if (!ffmpeg.Wait(limit)) return false;
    DWORD code = 1;
    ::GetExitCodeProcess(ffmpeg.handle(), &code);
    return code == 0;
}

}  // namespace testing_support
