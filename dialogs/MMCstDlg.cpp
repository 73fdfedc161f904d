#include "dialogs/MMCstDlg.h"

#include <windows.h>
#include <commdlg.h>

#include <vector>

#include "framework/Exceptions.h"
#include "framework/Forms.h"

namespace {

struct OptionName {
    const char* name;
    TOpenOption option;
    DWORD flag;
};
constexpr OptionName kOptions[] = {
    {"ofReadOnly", ofReadOnly, OFN_READONLY},
    {"ofOverwritePrompt", ofOverwritePrompt, OFN_OVERWRITEPROMPT},
    {"ofHideReadOnly", ofHideReadOnly, OFN_HIDEREADONLY},
    {"ofNoChangeDir", ofNoChangeDir, OFN_NOCHANGEDIR},
    {"ofShowHelp", ofShowHelp, OFN_SHOWHELP},
    {"ofNoValidate", ofNoValidate, OFN_NOVALIDATE},
    {"ofAllowMultiSelect", ofAllowMultiSelect, OFN_ALLOWMULTISELECT},
    {"ofExtensionDifferent", ofExtensionDifferent, OFN_EXTENSIONDIFFERENT},
    {"ofPathMustExist", ofPathMustExist, OFN_PATHMUSTEXIST},
    {"ofFileMustExist", ofFileMustExist, OFN_FILEMUSTEXIST},
    {"ofCreatePrompt", ofCreatePrompt, OFN_CREATEPROMPT},
    {"ofShareAware", ofShareAware, OFN_SHAREAWARE},
    {"ofNoReadOnlyReturn", ofNoReadOnlyReturn, OFN_NOREADONLYRETURN},
    {"ofNoTestFileCreate", ofNoTestFileCreate, OFN_NOTESTFILECREATE},
    {"ofNoNetworkButton", ofNoNetworkButton, OFN_NONETWORKBUTTON},
    {"ofNoLongNames", ofNoLongNames, OFN_NOLONGNAMES},
    {"ofOldStyleDialog", ofOldStyleDialog, 0},
    {"ofNoDereferenceLinks", ofNoDereferenceLinks, OFN_NODEREFERENCELINKS},
    {"ofEnableIncludeNotify", ofEnableIncludeNotify, OFN_ENABLEINCLUDENOTIFY},
    {"ofEnableSizing", ofEnableSizing, OFN_ENABLESIZING},
};

}  // namespace

TMMWaveOpenDialog::TMMWaveOpenDialog(wc::TComponent* owner) : wc::TComponent(owner) {}

bool TMMWaveOpenDialog::SetProperty(const std::string& name, const wc::LayoutValue& value) {
    if (name == "FileName") FileName = value.AsString();
    else if (name == "Filter") Filter = value.AsString();
    else if (name == "InitialDir") InitialDir = value.AsString();
    else if (name == "Title") Title = value.AsString();
    else if (name == "DefaultExt") DefaultExt = value.AsString();
    else if (name == "Options") {
        Options = 0;
        for (const auto& member : value.AsSet()) {
            bool known = false;
            for (const auto& option : kOptions)
                if (member == option.name) {
                    Options |= option.option;
                    known = true;
                }
            if (!known) throw wc::Exception("Invalid open option " + member);
        }
    } else {
        return wc::TComponent::SetProperty(name, value);
    }
    return true;
}

bool TMMWaveOpenDialog::Execute() {
    // "Name|pattern|..." becomes the system's zero-separated list with a double zero.
    std::vector<char> filter(Filter.begin(), Filter.end());
    for (char& c : filter)
        if (c == '|') c = '\0';
    filter.push_back('\0');
    filter.push_back('\0');
    std::vector<char> file(MAX_PATH, '\0');
    FileName.copy(file.data(), file.size() - 1);

    OPENFILENAMEA open{};
    open.lStructSize = sizeof open;
    open.hwndOwner = wc::Application().Handle();
    open.lpstrFilter = filter.data();
    open.nFilterIndex = 1;
    open.lpstrFile = file.data();
    open.nMaxFile = DWORD(file.size());
    open.lpstrInitialDir = InitialDir.empty() ? nullptr : InitialDir.c_str();
    open.lpstrTitle = Title.empty() ? nullptr : Title.c_str();
    open.lpstrDefExt = DefaultExt.c_str();
    open.Flags = OFN_EXPLORER;
    for (const auto& option : kOptions)
        if (Options & option.option) open.Flags |= option.flag;
    if (!::GetOpenFileNameA(&open)) return false;
    FileName = file.data();
    return true;
}
