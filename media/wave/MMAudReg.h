// The process-wide registry of audio file reader classes, in ascending
// priority, so that a caller can ask the readers in turn which one accepts a
// file. The wave file reader (priority 5), the MPEG file reader (priority 1)
// and the CD track file reader (priority 4) are registered, in that order, on
// first use of the registry.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "media/wave/MMAudio.h"

// A class reference to a reader: its name and how to make one.
struct TMMCustomFileClass {
    std::string ClassName;
    std::function<std::unique_ptr<TMMCustomFile>(wc::TComponent* owner)> Create;

    template <class T>
    static TMMCustomFileClass Of() {
        return {T::ClassName(), [](wc::TComponent* owner) { return std::unique_ptr<TMMCustomFile>(std::make_unique<T>(owner)); }};
    }
};

// One registry entry; lower priorities come first.
struct TRegisterRec {
    TMMCustomFileClass FileClass;
    int Priority = 0;
};

inline constexpr int WaveFilePriority = 5;
inline constexpr int MpegFilePriority = 1;
inline constexpr int CDAFilePriority = 4;

// Inserts before the first entry whose priority is 0 or more and greater
// than `priority` (at the end when there is none); a class name already
// registered is ignored.
void RegisterFileType(TMMCustomFileClass fileClass, int priority);
template <class T>
void RegisterFileType(int priority) { RegisterFileType(TMMCustomFileClass::Of<T>(), priority); }
// Removes a class; false when it is not registered.
bool UnregisterFileType(std::string_view className);

// The entries in list order (the start-up registrations made on first use).
const std::vector<TRegisterRec>& RegisteredFileTypes();
const TRegisterRec* FindFileType(std::string_view className);
// The first reader in list order whose CanRead accepts the file, created
// with that owner; null when none does.
std::unique_ptr<TMMCustomFile> CreateFileReader(const std::string& fileName, wc::TComponent* owner);

// Frees every entry and the list.
void FreeFileTypes();
