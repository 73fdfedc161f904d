// Run-time binding of the system's Audio Compression Manager (MSACM32.DLL).
//
// The library is not linked at build time. AcmInitialize() loads it with the
// system's "file not found" box suppressed, checks its version and binds the
// entry points by name into one table; AcmFinalize() frees it again. Both are
// use-counted, so only the first initialisation binds and only the last
// finalisation releases. A missing library, one without acmGetVersion or one
// older than 2.00 is silent: the table simply stays (partly) empty, and every
// caller tests an entry point before calling it.
#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <msacm.h>

#include <functional>

#include "framework/Handles.h"

// One typed pointer per entry point, in binding order; empty until bound.
struct AcmEntryPoints {
    // version
    decltype(&::acmGetVersion) acmGetVersion = nullptr;
    // general
    decltype(&::acmMetrics) acmMetrics = nullptr;
    decltype(&::acmDriverEnum) acmDriverEnum = nullptr;
    decltype(&::acmDriverDetailsA) acmDriverDetailsA = nullptr;
    // drivers
    decltype(&::acmDriverAddA) acmDriverAddA = nullptr;
    decltype(&::acmDriverRemove) acmDriverRemove = nullptr;
    decltype(&::acmDriverOpen) acmDriverOpen = nullptr;
    decltype(&::acmDriverClose) acmDriverClose = nullptr;
    decltype(&::acmDriverMessage) acmDriverMessage = nullptr;
    decltype(&::acmDriverID) acmDriverID = nullptr;
    decltype(&::acmDriverPriority) acmDriverPriority = nullptr;
    // formats
    decltype(&::acmFormatTagDetailsA) acmFormatTagDetailsA = nullptr;
    decltype(&::acmFormatTagEnumA) acmFormatTagEnumA = nullptr;
    decltype(&::acmFormatChooseA) acmFormatChooseA = nullptr;
    decltype(&::acmFormatDetailsA) acmFormatDetailsA = nullptr;
    decltype(&::acmFormatEnumA) acmFormatEnumA = nullptr;
    decltype(&::acmFormatSuggest) acmFormatSuggest = nullptr;
    // filters
    decltype(&::acmFilterTagDetailsA) acmFilterTagDetailsA = nullptr;
    decltype(&::acmFilterTagEnumA) acmFilterTagEnumA = nullptr;
    decltype(&::acmFilterChooseA) acmFilterChooseA = nullptr;
    decltype(&::acmFilterDetailsA) acmFilterDetailsA = nullptr;
    decltype(&::acmFilterEnumA) acmFilterEnumA = nullptr;
    // streams
    decltype(&::acmStreamOpen) acmStreamOpen = nullptr;
    decltype(&::acmStreamClose) acmStreamClose = nullptr;
    decltype(&::acmStreamSize) acmStreamSize = nullptr;
    decltype(&::acmStreamConvert) acmStreamConvert = nullptr;
    decltype(&::acmStreamReset) acmStreamReset = nullptr;
    decltype(&::acmStreamPrepareHeader) acmStreamPrepareHeader = nullptr;
    decltype(&::acmStreamUnprepareHeader) acmStreamUnprepareHeader = nullptr;
};

// The lowest library version whose entry points are bound (2.00 in the
// high word of acmGetVersion's result).
constexpr DWORD kAcmRequiredVersion = 0x0200;

// One binding: the library, the installed flag and the table.
class AcmBinding {
public:
    using Lookup = std::function<FARPROC(const char* name)>;

    AcmBinding() = default;
    AcmBinding(const AcmBinding&) = delete;
    AcmBinding& operator=(const AcmBinding&) = delete;
    ~AcmBinding() { Release(); }

    // Loads the library by name (no error box) and binds it; false when it
    // is missing or lacks acmGetVersion.
    bool Load(const char* libraryName = "MSACM32.DLL");
    // The binding rules on any source of entry points: acmGetVersion first,
    // alone; the rest, in table order, only for version 2.00 or later.
    // Returns the installed flag.
    bool Bind(const Lookup& lookup);
    // Frees the library and empties the table.
    void Release();

    bool Installed() const { return installed_; }
    DWORD Version() const { return version_; }
    HMODULE Library() const { return library_.get(); }
    // Installed at version 2.00 or later: the format entry points may be used.
    bool Usable() const { return installed_ && HIWORD(version_) >= kAcmRequiredVersion; }
    const AcmEntryPoints& EntryPoints() const { return table_; }

private:
    wc::ModuleHandle library_;
    bool installed_ = false;
    DWORD version_ = 0;
    AcmEntryPoints table_;
};

// The process-wide binding, made by the first AcmInitialize().
void AcmInitialize();
void AcmFinalize();
const AcmBinding& Acm();

// Initialises the binding for the lifetime of a scope (the program's main).
class AcmScope {
public:
    AcmScope() { AcmInitialize(); }
    ~AcmScope() { AcmFinalize(); }
    AcmScope(const AcmScope&) = delete;
    AcmScope& operator=(const AcmScope&) = delete;
};
