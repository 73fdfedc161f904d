// Watching the system calls the code under test makes: the running
// executable's (or a loaded library's) import address table entry of a
// system function is pointed at a replacement for as long as an ImportPatch
// lives. Only calls made through that module's imports are seen; the
// system's own calls between its libraries are not.
#pragma once

#include <windows.h>

namespace testing_support {

class ImportPatch {
public:
    // `dll` as the executable names it (case ignored), e.g. "winmm.dll".
    // `importer`: the module whose imports change (null: the executable).
    ImportPatch(const char* dll, const char* function, void* replacement, HMODULE importer = nullptr);
    ~ImportPatch();
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

    // Whether the executable imports the function (and it is now replaced).
    bool active() const noexcept { return slot_ != nullptr; }
    // The function the executable called before.
    template <class Function>
    Function original() const noexcept {
        return reinterpret_cast<Function>(original_);
    }

private:
    void** slot_ = nullptr;
    void* original_ = nullptr;
};

}  // namespace testing_support
