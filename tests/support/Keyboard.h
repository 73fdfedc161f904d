// Keys as the system delivers them to a window of this or another process:
// posted key messages with their key data, and where the focus is.
#pragma once

#include <windows.h>

namespace testing_support {

// lParam of a key message: repeat count 1, the key's scan code, Alt held;
// `repeat` marks a held key's repeat (the key was already down).
LPARAM KeyData(UINT key, bool alt = false, bool repeat = false);
// A press and release of the key, posted.
void PostKey(HWND window, UINT key);
// Alt plus a letter as the system delivers it: the character message.
void PostAltLetter(HWND window, char letter, bool repeat = false);
// The window with the keyboard focus in the thread that owns `window`.
HWND FocusedWindowOf(HWND window);

}  // namespace testing_support
