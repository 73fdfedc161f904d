#include "support/Keyboard.h"

namespace testing_support {

LPARAM KeyData(UINT key, bool alt, bool repeat) {
    const UINT scan = ::MapVirtualKeyA(key, MAPVK_VK_TO_VSC);
    return LPARAM(1 | (scan << 16) | (alt ? (1u << 29) : 0u) | (repeat ? (1u << 30) : 0u));
}

void PostKey(HWND window, UINT key) {
    ::PostMessageA(window, WM_KEYDOWN, key, KeyData(key));
    ::PostMessageA(window, WM_KEYUP, key, KeyData(key) | LPARAM(3u << 30));
}

void PostAltLetter(HWND window, char letter, bool repeat) {
    ::PostMessageA(window, WM_SYSCHAR, WPARAM(BYTE(letter)), KeyData(UINT(::VkKeyScanA(letter) & 0xFF), true, repeat));
}

HWND FocusedWindowOf(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return ::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus : nullptr;
}

}  // namespace testing_support
