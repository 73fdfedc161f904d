#include "dialogs/PBFolderDialog.h"

#include <shlobj.h>

#include "framework/Exceptions.h"
#include "framework/Files.h"
#include "framework/Forms.h"
#include "framework/Handles.h"

namespace {

struct FlagName {
    const char* name;
    TBrowseInfoFlag flag;
    UINT shellFlag;
};
constexpr FlagName kFlags[] = {
    {"OnlyComputers", OnlyComputers, BIF_BROWSEFORCOMPUTER}, {"OnlyPrinters", OnlyPrinters, BIF_BROWSEFORPRINTER},
    {"OnlyDomains", OnlyDomains, BIF_DONTGOBELOWDOMAIN},     {"OnlyAncestors", OnlyAncestors, BIF_RETURNFSANCESTORS},
    {"OnlyFileSystem", OnlyFileSystem, BIF_RETURNONLYFSDIRS}, {"ShowPath", ShowPath, BIF_STATUSTEXT},
};

}  // namespace

TPBFolderDialog::TPBFolderDialog(wc::TComponent* owner) : wc::TComponent(owner) {}

bool TPBFolderDialog::SetProperty(const std::string& name, const wc::LayoutValue& value) {
    if (name == "Folder") {
        Folder = value.AsString();
    } else if (name == "Flags") {
        Flags = 0;
        for (const auto& member : value.AsSet()) {
            bool known = false;
            for (const auto& flag : kFlags)
                if (member == flag.name) {
                    Flags |= flag.flag;
                    known = true;
                }
            if (!known) throw wc::Exception("Invalid browse flag " + member);
        }
    } else if (name == "NewFolderVisible") {
        NewFolderVisible = value.AsBoolean();
    } else if (name == "NewFolderEnabled") {
        NewFolderEnabled = value.AsBoolean();
    } else {
        return wc::TComponent::SetProperty(name, value);
    }
    return true;
}

int CALLBACK TPBFolderDialog::BrowseCallback(HWND window, UINT message, LPARAM lParam, LPARAM data) {
    auto* self = reinterpret_cast<TPBFolderDialog*>(data);
    if (message == BFFM_INITIALIZED) {
        if (wc::DirectoryExists(self->Folder))
            ::SendMessageA(window, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(self->Folder.c_str()));
    } else if (message == BFFM_SELCHANGED && (self->Flags & ShowPath)) {
        char path[MAX_PATH] = "";
        ::SHGetPathFromIDListA(reinterpret_cast<LPCITEMIDLIST>(lParam), path);
        ::SendMessageA(window, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(path));
    }
    return 0;
}

bool TPBFolderDialog::Execute() {
    char displayName[MAX_PATH] = "";
    BROWSEINFOA browse{};
    browse.hwndOwner = wc::Application().Handle();
    browse.pszDisplayName = displayName;
    browse.lpszTitle = "Current folder:";
    for (const auto& flag : kFlags)
        if (Flags & flag.flag) browse.ulFlags |= flag.shellFlag;
    browse.lpfn = BrowseCallback;
    browse.lParam = reinterpret_cast<LPARAM>(this);
    wc::ItemIdListHandle chosen(::SHBrowseForFolderA(&browse));
    if (!chosen) return false;
    char path[MAX_PATH] = "";
    Folder = ::SHGetPathFromIDListA(chosen.get(), path) ? path : "";
    return true;
}
