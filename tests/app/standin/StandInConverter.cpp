// A stand-in for the converter, put in place of extras\ffmpeg.exe by the
// cleaning job's tests. It records what it was given, then copies the source
// (given after "-i") to the output (the last argument), which for a plain
// 16-bit PCM source is exactly the clean copy the real converter writes.
//
// Beside it, standin.txt may hold, one per line: "fail" (write nothing and
// exit with 1), "wrong-sample" (flip the lowest bit of the copy's last byte,
// a sample of the data chunk that ends the file), "exit <code>" (write the
// copy, then end with that code), "sleep <ms>" (before anything else),
// "hold <n>" (on its n-th run, write the first half of the copy and wait a
// minute before the rest: a run to be stopped mid-file), "hold" (so on this
// run), "move-data" (write the copy, then write it anew with a chunk more
// ahead of its samples: a copy whose check starts over once the converter
// has ended, as a long check to be stopped). An order after "when <text>: " holds only for a source whose path
// contains the text ("when take 2: hold"): runs that start together may
// take their numbers in either order. Each run writes its record to the
// first free standin-run-<n>.txt beside it (taken atomically):
//   command=<the command line as received>
//   directory=<the working directory>
//   flags=<start-up flags, hex> show=<show-window value>
//   stdout=<file type> stderr=<file type> (1: disk file)
// and writes one line to its standard output and one to its standard error.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string OwnFolder() {
    char path[MAX_PATH] = "";
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text = path;
    return text.substr(0, text.find_last_of('\\'));
}

void WriteTo(DWORD which, const std::string& text) {
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(which), text.data(), DWORD(text.size()), &written, nullptr);
}

// Copies `from` to `to` in blocks; with `junkAhead`, a 6-byte JUNK chunk
// goes before the data chunk and the RIFF size grows by its 14 bytes.
bool CopyInBlocks(const std::string& from, const std::string& to, bool junkAhead) {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    std::vector<char> block(1 << 20);
    in.read(block.data(), 4096);
    const size_t got = size_t(in.gcount());
    size_t dataAt = got;
    if (junkAhead && got >= 12) {
        const auto le32 = [&](size_t at) {
            uint32_t v = 0;
            for (int i = 3; i >= 0; --i) v = v << 8 | uint8_t(block[at + i]);
            return v;
        };
        for (dataAt = 12; dataAt + 8 <= got && std::string(&block[dataAt], 4) != "data";)
            dataAt += 8 + le32(dataAt + 4) + (le32(dataAt + 4) & 1);
        const uint32_t riff = le32(4) + 14;
        for (int i = 0; i < 4; ++i) block[4 + i] = char(riff >> (8 * i));
    }
    out.write(block.data(), std::streamsize(std::min(dataAt, got)));
    if (junkAhead) out.write("JUNK\6\0\0\0junk!!", 14);
    if (dataAt < got) out.write(block.data() + dataAt, std::streamsize(got - dataAt));
    while (in.read(block.data(), std::streamsize(block.size())) || in.gcount() > 0)
        out.write(block.data(), in.gcount());
    return out.good();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string folder = OwnFolder();
    std::string source;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "-i") source = argv[i + 1];
    bool fail = false, wrongSample = false, holdThis = false, moveData = false;
    DWORD sleepMs = 0;
    int holdRun = 0;
    int exitCode = 0;
    {
        std::ifstream control(folder + "\\standin.txt");
        std::string line;
        while (std::getline(control, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.rfind("when ", 0) == 0) {
                const size_t colon = line.find(": ");
                if (colon == std::string::npos || source.find(line.substr(5, colon - 5)) == std::string::npos) continue;
                line = line.substr(colon + 2);
            }
            if (line == "fail") fail = true;
            else if (line == "hold") holdThis = true;
            else if (line == "wrong-sample") wrongSample = true;
            else if (line == "move-data") moveData = true;
            else if (line.rfind("exit ", 0) == 0) exitCode = std::stoi(line.substr(5));
            else if (line.rfind("sleep ", 0) == 0) sleepMs = DWORD(std::stoul(line.substr(6)));
            else if (line.rfind("hold ", 0) == 0) holdRun = std::stoi(line.substr(5));
        }
    }

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    ::GetStartupInfoA(&startup);
    char directory[MAX_PATH] = "";
    ::GetCurrentDirectoryA(MAX_PATH, directory);
    std::ostringstream record;
    record << "command=" << ::GetCommandLineA() << "\n"
           << "directory=" << directory << "\n"
           << "flags=" << std::hex << startup.dwFlags << std::dec << " show=" << startup.wShowWindow << "\n"
           << "stdout=" << ::GetFileType(::GetStdHandle(STD_OUTPUT_HANDLE))
           << " stderr=" << ::GetFileType(::GetStdHandle(STD_ERROR_HANDLE)) << "\n";
    int thisRun = 0;
    for (int run = 1; run < 1000; ++run) {
        const std::string name = folder + "\\standin-run-" + std::to_string(run) + ".txt";
        // Made only when free: two runs at once never take one number.
        const HANDLE file =
            ::CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) continue;
        const std::string text = record.str();
        DWORD written = 0;
        ::WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
        ::CloseHandle(file);
        thisRun = run;
        break;
    }
    WriteTo(STD_OUTPUT_HANDLE, "stand-in converter: standard output\n");
    WriteTo(STD_ERROR_HANDLE, "stand-in converter: standard error\n");

    if (sleepMs) ::Sleep(sleepMs);
    if (fail || argc < 4) {
        WriteTo(STD_ERROR_HANDLE, "stand-in converter: told to fail\n");
        return 1;
    }
    if (moveData)
        return CopyInBlocks(source, argv[argc - 1], false) && CopyInBlocks(source, argv[argc - 1], true) ? exitCode : 3;
    std::ifstream in(source, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) return 2;
    if (wrongSample && !bytes.empty()) bytes.back() = char(bytes.back() ^ 1);
    std::ofstream out(argv[argc - 1], std::ios::binary | std::ios::trunc);
    std::streamsize done = 0;
    if (holdThis || thisRun == holdRun) {
        constexpr DWORD kHoldMs = 60000;  // far longer than a test waits for its stop
        done = std::streamsize(bytes.size() / 2);
        out.write(bytes.data(), done);
        out.flush();
        ::Sleep(kHoldMs);
    }
    out.write(bytes.data() + done, std::streamsize(bytes.size()) - done);
    return out.good() ? exitCode : 3;
}
