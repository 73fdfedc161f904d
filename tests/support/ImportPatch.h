// Watching the system calls the code under test makes: the running
// executable's import address table entry of a system function is pointed
// at a replacement for as long as an ImportPatch lives. Only calls made
// through this executable's imports are seen (the code under test is linked
// into it); the system's own calls between its libraries are not.
#pragma once

#include <windows.h>

namespace testing_support {

class ImportPatch {
public:
    // `dll` as the executable names it (case ignored), e.g. "winmm.dll".
    ImportPatch(const char* dll, const char* function, void* replacement);
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
