#include "app/CleanJob.h"

#include <windows.h>

#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "framework/Files.h"
#include "framework/Handles.h"
#include "framework/Strings.h"

namespace {

// While the converter runs, the bar is moved this often (input is answered
// as it arrives): often enough to look smooth, seldom enough that asking
// the output file's size costs nothing.
constexpr DWORD kProgressRefreshMs = 200;
// How long a stopped converter is given to end before its copy is deleted.
constexpr DWORD kStopWaitMs = 10000;
// The exit code given to a converter that was stopped.
constexpr UINT kStoppedExitCode = 0xC000013A;  // STATUS_CONTROL_C_EXIT, as a console break leaves it

}  // namespace

std::string ExtractBaseName(std::string_view path) {
    std::string text(path);
    for (char& c : text)
        if (c == '/') c = '\\';
    const size_t last = text.rfind('\\');
    return last == std::string::npos ? text : text.substr(last + 1);
}

std::string BuildOutputPath(std::string_view folder, std::string_view sourcePath) {
    return std::string(folder) + "\\Clean_" + ExtractBaseName(sourcePath);
}

std::string ConverterCommandLine(std::string_view inputPath, std::string_view outputPath, std::string_view codec,
                                 bool rf64) {
    const std::string keepFormat = codec.empty() ? std::string() : "-c:a " + std::string(codec) + " ";
    const std::string large = rf64 ? "-rf64 auto " : "";
    return "extras\\ffmpeg -i \"" + std::string(inputPath) + "\" -f wav -bitexact -y " + keepFormat + large + "\"" +
           std::string(outputPath) + "\"";
}

std::string BuildConverterCommandLine(std::string_view sourcePath, std::string_view folder, std::string_view codec) {
    return ConverterCommandLine(sourcePath, BuildOutputPath(folder, sourcePath), codec, false);
}

namespace {

// A temporary file of this job, removed when the job ends.
struct TemporaryFile {
    TemporaryFile() {
        wchar_t folder[MAX_PATH] = L"", name[MAX_PATH] = L"";
        if (::GetTempPathW(MAX_PATH, folder) && ::GetTempFileNameW(folder, L"wcd", 0, name))
            path = wc::PathFromWide(name);
    }
    ~TemporaryFile() {
        if (!path.empty()) ::DeleteFileW(wc::PathToWide(path).c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    std::string path;
};

}  // namespace

std::string CleanAndCheck(const std::string& source, const std::string& output, const std::string& logPath,
                          const std::function<void()>& pump, bool appendToLog) {
    return CleanAndCheck(source, PlanCleanJob(source), output, logPath, pump, appendToLog);
}

std::string CleanAndCheck(const std::string& source, const CleanPlan& plan, const std::string& output,
                          const std::string& logPath, const std::function<void()>& pump, bool appendToLog,
                          JobProgress* progress) {
    // The log's line names the source: a batch's log holds many.
    const auto fail = [&](const std::string& line) {
        AppendLogLine(logPath, source + ": " + line);
        return line;
    };
    if (plan.route == CleanPlan::Route::Refuse) {
        if (!appendToLog) ::DeleteFileW(wc::PathToWide(logPath).c_str());  // the log belongs to this job alone
        return fail("clean copy refused: " + plan.reason);
    }
    // The converter reads the source itself, or the PCM the program decoded it to.
    std::string input = source;
    TemporaryFile decoded;
    if (plan.route == CleanPlan::Route::Decode) {
        std::string why = "no temporary file can be made";
        // The decoded wave is the copy's size: the same header and samples.
        if (progress) *progress = {JobProgress::Stage::Decoding, 0, plan.copyBytes};
        if (decoded.path.empty() || !DecodeToPcmWave(source, decoded.path, pump, why, progress)) {
            if (!appendToLog) ::DeleteFileW(wc::PathToWide(logPath).c_str());
            return fail("clean copy refused: the source cannot be decoded here: " + why);
        }
        input = decoded.path;
    }

    DWORD exitCode = 0;
    if (progress) *progress = {JobProgress::Stage::Converting, 0, 0};
    if (!RunConverter(ConverterCommandLine(input, output, plan.codec, plan.beyond4GiB), logPath, &exitCode, pump,
                      appendToLog))
        return fail("clean copy check failed: the converter could not be started (extras\\ffmpeg.exe missing?)");
    if (exitCode != 0)
        return fail("clean copy check failed: the converter ended with exit code " + std::to_string(exitCode));
    const CleanCheckResult check = CheckCleanCopy(input, output, pump, progress);
    if (!check.success) return fail(check.logLine.empty() ? "clean copy check failed" : check.logLine);
    return {};
}

bool RunConverter(const std::string& commandLine, const std::string& logPath, DWORD* exitCode,
                  const std::function<void()>& betweenPolls, bool appendToLog) {
    // Declared so that every way out closes the log first, then the process,
    // then the thread (destruction runs in reverse order).
    wc::FileHandle thread, process, log;

    const std::string programDir = wc::ExtractFileDir(wc::ExecutablePath());

    SECURITY_ATTRIBUTES inheritable{};
    inheritable.nLength = sizeof inheritable;  // 12
    inheritable.lpSecurityDescriptor = nullptr;
    inheritable.bInheritHandle = TRUE;
    // Within a batch the log grows; a single job starts it anew.
    log.reset(::CreateFileW(wc::PathToWide(logPath).c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, appendToLog ? OPEN_ALWAYS : CREATE_ALWAYS,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_WRITE_THROUGH, nullptr));
    if (!log) return false;
    if (appendToLog) ::SetFilePointer(log.get(), 0, nullptr, FILE_END);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;  // 68
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = log.get();
    startup.hStdError = log.get();

    // The command line holds the paths, so it goes to the system wide.
    const std::wstring wideCommandLine = wc::PathToWide(commandLine);
    std::vector<wchar_t> mutableCommandLine(wideCommandLine.begin(), wideCommandLine.end());
    mutableCommandLine.push_back(L'\0');
    PROCESS_INFORMATION created{};
    if (!::CreateProcessW(nullptr, mutableCommandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                          wc::PathToWide(programDir).c_str(), &startup, &created))
        return false;
    process.reset(created.hProcess);
    thread.reset(created.hThread);

    // A converter left by an exception from `betweenPolls` (a stopped job)
    // is ended before its handles close, so that its output can go.
    struct EndOnUnwind {
        HANDLE converter;
        int exceptions = std::uncaught_exceptions();
        ~EndOnUnwind() {
            if (std::uncaught_exceptions() == exceptions) return;
            ::TerminateProcess(converter, kStoppedExitCode);
            ::WaitForSingleObject(converter, kStopWaitMs);
        }
    } endOnUnwind{process.get()};

    ::WaitForInputIdle(process.get(), INFINITE);
    // Wakes for the converter's end and for messages as they arrive, and at
    // least every kProgressRefreshMs for the caller's progress.
    HANDLE converter = process.get();
    for (;;) {
        const DWORD woken = ::MsgWaitForMultipleObjects(1, &converter, FALSE, kProgressRefreshMs, QS_ALLINPUT);
        if (woken != WAIT_OBJECT_0 + 1 && woken != WAIT_TIMEOUT) break;  // ended, or it cannot be waited on
        if (betweenPolls) betweenPolls();
    }
    if (exitCode && !::GetExitCodeProcess(process.get(), exitCode)) *exitCode = DWORD(-1);
    log.reset();
    process.reset();
    thread.reset();
    return true;
}
