#include "media/wave/MMAudReg.h"

#include <algorithm>

#include "media/cd/MMCDA.h"
#include "media/mpeg/MMMPEG.h"
#include "media/wave/MMWave.h"

namespace {

// Made with the first registration, freed with FreeFileTypes.
std::unique_ptr<std::vector<TRegisterRec>> fileTypes;

void Insert(std::vector<TRegisterRec>& list, TMMCustomFileClass fileClass, int priority) {
    for (const TRegisterRec& entry : list)
        if (entry.FileClass.ClassName == fileClass.ClassName) return;
    // Equal priorities keep their registration order; negative ones never stop the walk.
    auto stop = std::find_if(list.begin(), list.end(), [priority](const TRegisterRec& entry) {
        return entry.Priority >= 0 && entry.Priority > priority;
    });
    list.insert(stop, TRegisterRec{std::move(fileClass), priority});
}

std::vector<TRegisterRec>& List() {
    if (!fileTypes) {
        fileTypes = std::make_unique<std::vector<TRegisterRec>>();
        // The readers of this library, in their registration order.
        Insert(*fileTypes, TMMCustomFileClass::Of<TMMWaveFile>(), WaveFilePriority);
        Insert(*fileTypes, TMMCustomFileClass::Of<TMMMPEGFile>(), MpegFilePriority);
        Insert(*fileTypes, TMMCustomFileClass::Of<TMMCDAFile>(), CDAFilePriority);
    }
    return *fileTypes;
}

}  // namespace

void RegisterFileType(TMMCustomFileClass fileClass, int priority) { Insert(List(), std::move(fileClass), priority); }

bool UnregisterFileType(std::string_view className) {
    return std::erase_if(List(), [className](const TRegisterRec& entry) { return entry.FileClass.ClassName == className; }) > 0;
}

const std::vector<TRegisterRec>& RegisteredFileTypes() { return List(); }

const TRegisterRec* FindFileType(std::string_view className) {
    for (const TRegisterRec& entry : List())
        if (entry.FileClass.ClassName == className) return &entry;
    return nullptr;
}

std::unique_ptr<TMMCustomFile> CreateFileReader(const std::string& fileName, wc::TComponent* owner) {
    // A copy: a reader's constructor may register further classes.
    const std::vector<TRegisterRec> entries = List();
    for (const TRegisterRec& entry : entries) {
        if (!entry.FileClass.Create) continue;
        // A reader whose library is missing cannot be made; the others may still read the file.
        std::unique_ptr<TMMCustomFile> reader;
        try {
            reader = entry.FileClass.Create(owner);
        } catch (const std::exception&) {
            continue;
        }
        if (reader && reader->CanRead(fileName)) return reader;
    }
    return nullptr;
}

void FreeFileTypes() { fileTypes.reset(); }
