#include "media/codecs/MMACM.h"

#include <cstdint>

namespace {

// The loader's old convention: module values below 32 are error codes.
constexpr uintptr_t kFirstValidModule = 32;

// The system hands every entry point back as FARPROC, a function of no
// arguments returning an integer; the real signature is given by the slot.
// The hop goes through void (*)(), the language's generic function pointer,
// which converts to and from any function pointer type.
using GenericProc = void (*)();

template <class T>
void BindOne(T& slot, const char* name, const AcmBinding::Lookup& lookup) {
    slot = reinterpret_cast<T>(reinterpret_cast<GenericProc>(lookup(name)));
}

AcmBinding& ProcessBinding() {
    static AcmBinding binding;
    return binding;
}

int useCount = 0;

}  // namespace

bool AcmBinding::Load(const char* libraryName) {
    Release();
    const UINT previous = ::SetErrorMode(SEM_NOOPENFILEERRORBOX);
    HMODULE module = ::LoadLibraryA(libraryName);
    ::SetErrorMode(previous);
    if (reinterpret_cast<uintptr_t>(module) < kFirstValidModule) return false;
    library_.reset(module);
    Bind([module](const char* name) { return ::GetProcAddress(module, name); });
    if (!installed_) library_.reset();
    return installed_;
}

bool AcmBinding::Bind(const Lookup& lookup) {
    table_ = {};
    installed_ = false;
    version_ = 0;
    BindOne(table_.acmGetVersion, "acmGetVersion", lookup);
    if (!table_.acmGetVersion) return false;
    installed_ = true;
    version_ = table_.acmGetVersion();
    if (HIWORD(version_) < kAcmRequiredVersion) return true;

    BindOne(table_.acmMetrics, "acmMetrics", lookup);
    BindOne(table_.acmDriverEnum, "acmDriverEnum", lookup);
    BindOne(table_.acmDriverDetailsA, "acmDriverDetailsA", lookup);

    BindOne(table_.acmDriverAddA, "acmDriverAddA", lookup);
    BindOne(table_.acmDriverRemove, "acmDriverRemove", lookup);
    BindOne(table_.acmDriverOpen, "acmDriverOpen", lookup);
    BindOne(table_.acmDriverClose, "acmDriverClose", lookup);
    BindOne(table_.acmDriverMessage, "acmDriverMessage", lookup);
    BindOne(table_.acmDriverID, "acmDriverID", lookup);
    BindOne(table_.acmDriverPriority, "acmDriverPriority", lookup);

    BindOne(table_.acmFormatTagDetailsA, "acmFormatTagDetailsA", lookup);
    BindOne(table_.acmFormatTagEnumA, "acmFormatTagEnumA", lookup);
    BindOne(table_.acmFormatChooseA, "acmFormatChooseA", lookup);
    BindOne(table_.acmFormatDetailsA, "acmFormatDetailsA", lookup);
    BindOne(table_.acmFormatEnumA, "acmFormatEnumA", lookup);
    BindOne(table_.acmFormatSuggest, "acmFormatSuggest", lookup);

    BindOne(table_.acmFilterTagDetailsA, "acmFilterTagDetailsA", lookup);
    BindOne(table_.acmFilterTagEnumA, "acmFilterTagEnumA", lookup);
    BindOne(table_.acmFilterChooseA, "acmFilterChooseA", lookup);
    BindOne(table_.acmFilterDetailsA, "acmFilterDetailsA", lookup);
    BindOne(table_.acmFilterEnumA, "acmFilterEnumA", lookup);

    BindOne(table_.acmStreamOpen, "acmStreamOpen", lookup);
    BindOne(table_.acmStreamClose, "acmStreamClose", lookup);
    BindOne(table_.acmStreamSize, "acmStreamSize", lookup);
    BindOne(table_.acmStreamConvert, "acmStreamConvert", lookup);
    BindOne(table_.acmStreamReset, "acmStreamReset", lookup);
    BindOne(table_.acmStreamPrepareHeader, "acmStreamPrepareHeader", lookup);
    BindOne(table_.acmStreamUnprepareHeader, "acmStreamUnprepareHeader", lookup);
    return true;
}

void AcmBinding::Release() {
    table_ = {};
    installed_ = false;
    version_ = 0;
    library_.reset();
}

void AcmInitialize() {
    if (useCount++ == 0) ProcessBinding().Load();
}

void AcmFinalize() {
    if (useCount > 0 && --useCount == 0) ProcessBinding().Release();
}

const AcmBinding& Acm() { return ProcessBinding(); }

void AcmStreamCloseBound(HACMSTREAM stream) noexcept {
    if (const auto close = Acm().EntryPoints().acmStreamClose) close(stream, 0);
}
