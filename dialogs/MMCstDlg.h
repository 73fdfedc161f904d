// Wave file chooser component over the system's open dialog.
#pragma once

#include <string>

#include "framework/Components.h"

enum TOpenOption : unsigned {
    ofReadOnly = 1u << 0,
    ofOverwritePrompt = 1u << 1,
    ofHideReadOnly = 1u << 2,
    ofNoChangeDir = 1u << 3,
    ofShowHelp = 1u << 4,
    ofNoValidate = 1u << 5,
    ofAllowMultiSelect = 1u << 6,
    ofExtensionDifferent = 1u << 7,
    ofPathMustExist = 1u << 8,
    ofFileMustExist = 1u << 9,
    ofCreatePrompt = 1u << 10,
    ofShareAware = 1u << 11,
    ofNoReadOnlyReturn = 1u << 12,
    ofNoTestFileCreate = 1u << 13,
    ofNoNetworkButton = 1u << 14,
    ofNoLongNames = 1u << 15,
    ofOldStyleDialog = 1u << 16,
    ofNoDereferenceLinks = 1u << 17,
    ofEnableIncludeNotify = 1u << 18,
    ofEnableSizing = 1u << 19,
};
using TOpenOptions = unsigned;

class TMMWaveOpenDialog : public wc::TComponent {
public:
    explicit TMMWaveOpenDialog(wc::TComponent* owner);
    static const char* ClassName() { return "TMMWaveOpenDialog"; }

    // Shows the dialog modally; true when a file was chosen, then in FileName.
    bool Execute();

    std::string FileName;
    std::string Filter = "Wave Files(*.wav)|*.wav";
    std::string InitialDir;
    std::string Title;
    std::string DefaultExt = "wav";
    TOpenOptions Options = ofHideReadOnly | ofEnableSizing;

    bool SetProperty(const std::string& name, const wc::LayoutValue& value) override;
};
