// A stand-in decoder library too old for the program: it answers version 24.
#include <windows.h>

#include <cstdint>

extern "C" __declspec(dllexport) int32_t WINAPI mpeg_Version() { return 24; }
