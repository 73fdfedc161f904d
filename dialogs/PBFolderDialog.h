// Folder chooser component over the shell's folder browser.
#pragma once

#include <windows.h>

#include <string>

#include "framework/Components.h"

enum TBrowseInfoFlag : unsigned {
    OnlyComputers = 1u << 0,
    OnlyPrinters = 1u << 1,
    OnlyDomains = 1u << 2,
    OnlyAncestors = 1u << 3,
    OnlyFileSystem = 1u << 4,
    ShowPath = 1u << 5,
};
using TBrowseInfoFlagSet = unsigned;

class TPBFolderDialog : public wc::TComponent {
public:
    explicit TPBFolderDialog(wc::TComponent* owner);
    static const char* ClassName() { return "TPBFolderDialog"; }

    // Shows the browser modally; true when a folder was confirmed, then in Folder.
    bool Execute();

    std::string Folder;
    TBrowseInfoFlagSet Flags = ShowPath;
    bool NewFolderVisible = true;
    bool NewFolderEnabled = true;

    bool SetProperty(const std::string& name, const wc::LayoutValue& value) override;

private:
    static int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM lParam, LPARAM data);
};
