// The cleaning job of one source: its plan, its decoding when the program
// decodes it, the converter run hidden with its console output in the log,
// and the check of the copy it wrote. The window (Unit1) chooses what is
// cleaned and shows how it went.
//
// Everything runs on the caller's thread (the user-interface thread in the
// program). The job waits on the converter and calls back between its
// waits and between the blocks it decodes and checks, so the caller can
// dispatch window messages, show progress, or leave by an exception (a
// stopped job); a converter left that way is ended.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

#include "app/CleanCheck.h"

// The text after the last separator ("/" counts as "\").
std::string ExtractBaseName(std::string_view path);
// folder + "\Clean_" + base name of the source, with no normalisation.
std::string BuildOutputPath(std::string_view folder, std::string_view sourcePath);
// The converter's command line for one job; a non-empty `codec` is put in as
// "-c:a <codec> " just before the output path.
std::string BuildConverterCommandLine(std::string_view sourcePath, std::string_view folder,
                                      std::string_view codec = {});
// The same with the converter reading `inputPath` (the source, or the PCM
// the program decoded it to) and writing `outputPath`; `rf64` adds
// "-rf64 auto " so that a copy past 4 GiB is written as RF64.
std::string ConverterCommandLine(std::string_view inputPath, std::string_view outputPath, std::string_view codec,
                                 bool rf64);
// Runs the converter hidden, in the directory of the program's executable,
// with its console output in a new log file at `logPath` (at its end with
// `appendToLog`); `betweenPolls` runs whenever messages arrive and at least
// every 200 ms, and a converter it leaves by an exception is ended. True when it was started and has ended,
// with its exit code in `exitCode` when given.
bool RunConverter(const std::string& commandLine, const std::string& logPath, DWORD* exitCode,
                  const std::function<void()>& betweenPolls, bool appendToLog = false);
// One whole job: the source's plan, its decoding when the program decodes
// it, the converter writing `output`, and the check of the copy. Empty on
// success, else the line it added to the log at `logPath`. With
// `appendToLog` (a batch) the log is added to, never deleted or started anew.
std::string CleanAndCheck(const std::string& source, const std::string& output, const std::string& logPath,
                          const std::function<void()>& pump, bool appendToLog = false);
// The same with the source's plan already made (PlanCleanJob); `progress`,
// when given, follows the job's stages for `pump` to show.
std::string CleanAndCheck(const std::string& source, const CleanPlan& plan, const std::string& output,
                          const std::string& logPath, const std::function<void()>& pump, bool appendToLog,
                          JobProgress* progress = nullptr);
