#include "ImportPatch.h"

#include <cstring>

namespace testing_support {

namespace {

// The executable's image, read through its own headers.
template <class T>
T* At(BYTE* base, DWORD offset) {
    return reinterpret_cast<T*>(base + offset);
}

void Write(void** slot, void* value) {
    DWORD previous = 0;
    if (!::VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &previous)) return;
    *slot = value;
    ::VirtualProtect(slot, sizeof(void*), previous, &previous);
    ::FlushInstructionCache(::GetCurrentProcess(), slot, sizeof(void*));
}

}  // namespace

ImportPatch::ImportPatch(const char* dll, const char* function, void* replacement, HMODULE importer) {
    auto* base = reinterpret_cast<BYTE*>(importer ? importer : ::GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return;
    const auto* nt = At<const IMAGE_NT_HEADERS>(base, DWORD(dos->e_lfanew));
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return;
    // Where the function lives now, for import tables without names.
    HMODULE module = ::GetModuleHandleA(dll);
    void* target = module ? reinterpret_cast<void*>(::GetProcAddress(module, function)) : nullptr;
    for (auto* entry = At<IMAGE_IMPORT_DESCRIPTOR>(base, imports.VirtualAddress); entry->Name != 0; ++entry) {
        if (::lstrcmpiA(At<const char>(base, entry->Name), dll) != 0) continue;
        auto* addresses = At<IMAGE_THUNK_DATA>(base, entry->FirstThunk);
        const IMAGE_THUNK_DATA* names =
            entry->OriginalFirstThunk ? At<IMAGE_THUNK_DATA>(base, entry->OriginalFirstThunk) : nullptr;
        for (size_t i = 0; addresses[i].u1.Function != 0; ++i) {
            void** slot = reinterpret_cast<void**>(&addresses[i].u1.Function);
            bool match = false;
            if (names && !IMAGE_SNAP_BY_ORDINAL(names[i].u1.Ordinal)) {
                const auto* byName = At<const IMAGE_IMPORT_BY_NAME>(base, DWORD(names[i].u1.AddressOfData));
                match = std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0;
            } else {
                match = target && *slot == target;
            }
            if (!match) continue;
            slot_ = slot;
            original_ = *slot;
            Write(slot_, replacement);
            return;
        }
    }
}

ImportPatch::~ImportPatch() {
    if (slot_) Write(slot_, original_);
}

}  // namespace testing_support
