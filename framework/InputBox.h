// The framework's text prompt: a small modal dialog with a prompt line, one
// edit field and OK / Cancel, built in memory (no dialog resource needed).
#pragma once

#include <windows.h>

#include <string>

namespace wc {

// Control ids of the prompt's dialog, for whoever drives it.
constexpr int kInputBoxEditId = 100;
constexpr int kInputBoxPromptId = 101;

// Shows the prompt with `value` as its starting text; true with the entered
// text in `value` on OK, false (value unchanged) on Cancel or close. The
// owner defaults to the active window of this thread.
bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value, HWND owner = nullptr);

// The entered text, or `defaultValue` when cancelled.
std::string InputBox(const std::string& caption, const std::string& prompt, const std::string& defaultValue,
                     HWND owner = nullptr);

}  // namespace wc
