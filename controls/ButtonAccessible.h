// What assistive technology learns of a push button that the program draws
// itself: the push-button role, its caption as its name (without the
// accelerator's "&"), "Alt+<letter>" as its keyboard shortcut, whether it
// can be pressed and has the focus, and "Press" as its default action,
// which clicks it. Where it is, its parent and navigation come from the
// system's standard object for the window.
//
// The object knows the window only by its handle: a reader that keeps it
// after the button is gone is told "not connected" and reaches nothing
// freed. It is made and called on the window's thread (the system marshals
// calls from readers in other processes to it).
#pragma once

#include <windows.h>

#include <string>

// The answer to WM_GETOBJECT for a push button window, or 0 for an object
// id other than the client's (then the default handling answers).
LRESULT AnswerButtonGetObject(HWND button, WPARAM wParam, LPARAM objectId);

// A caption as it is read aloud: "&" marks dropped, "&&" one ampersand.
std::wstring CaptionWithoutAccelerator(const std::wstring& caption);
