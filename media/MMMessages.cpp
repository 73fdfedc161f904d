#include "media/MMMessages.h"

#include <windows.h>

std::string MMLoadString(int id) {
    // A string resource is at most 65535 characters; ours are far shorter,
    // so one generous buffer serves every message.
    char buffer[1024];
    const int length = LoadStringA(GetModuleHandleA(nullptr), static_cast<UINT>(id), buffer, sizeof buffer);
    return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
}
