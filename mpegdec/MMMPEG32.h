// MMMPEG32.DLL: an MPEG audio decoder library with a flat, stdcall entry
// point table. It parses MPEG-1, MPEG-2 and MPEG-2.5 layer I, II and III
// streams (raw, behind an ID3 version 2 tag, or inside a RIFF WAVE "data"
// chunk), read in pieces with a frame index built as far as reads and seeks
// need it, and decodes through one decoding step (FrameDecoder.h) into
// 16-bit PCM, gapless: the encoder's delay and padding are trimmed.
//
// Conventions: a status is 0 for success, otherwise one of the codes below,
// whose text mpeg_GetErrorText gives. Positions are frame numbers counted
// from the first audio frame (an Xing/Info or VBRI frame is not audio).
//
// Threads: an instance takes one call at a time; a call that comes while
// another thread's call uses the instance answers MPEG_ERR_IN_USE and
// leaves it alone. mpeg_AbortReadData, mpeg_GetPosition, mpeg_GetDone,
// mpeg_GetEmpty and mpeg_GetChannelMode may come at any time, and
// mpeg_Done too: the instance lives until a call in progress returns.
//
// Decryption: with a callback set and the decrypt mode non-zero, every byte
// read from a file passes through the callback before it is parsed; the
// callback transforms a block in place given the block's file offset (a
// keystream XOR is its own inverse, so mpeg_EncryptFile with the same
// callback writes a file that decrypts back).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "mpegdec/MpegStatus.h"

#ifdef MMMPEG32_BUILD
#define MMMPEG32_API extern "C" __declspec(dllexport)
#else
#define MMMPEG32_API extern "C" __declspec(dllimport)
#endif

// The version this library answers: the program needs 25 or later.
inline constexpr int MpegLibraryVersion = 25;

enum MpegChannelMode : uint8_t { MpegLeft = 0, MpegRight = 1, MpegBoth = 2, MpegDownMix = 3 };
enum MpegSampleMode : uint8_t { MpegStereo = 0, MpegJointStereo = 1, MpegDualChannel = 2, MpegSingleChannel = 3 };

#pragma pack(push, 1)
// Filled by mpeg_GetFileInfo.
struct MpegFileInfoRec {
    uint8_t Version;         // 1: MPEG-1; 0: MPEG-2 or MPEG-2.5 (low sampling frequencies)
    int32_t Layer;           // 1, 2 or 3
    int32_t Channels;        // 1 or 2
    int32_t SampleRate;      // Hz
    int32_t BitRate;         // kbit/s; 0 for a variable-rate file not yet scanned
    uint8_t Mode;            // MpegSampleMode
    int32_t Frames;          // audio frames
    int32_t PlayTimeMs;      // Frames * MsPerFrame, rounded
    double MsPerFrame;       // samples per frame * 1000 / sample rate
    int32_t VersionDetail;   // 10: MPEG-1, 20: MPEG-2, 25: MPEG-2.5
    uint8_t Tag[128];        // the ID3v1 tag block; zeros without one
};
#pragma pack(pop)
static_assert(offsetof(MpegFileInfoRec, Layer) == 1);
static_assert(offsetof(MpegFileInfoRec, SampleRate) == 9);
static_assert(offsetof(MpegFileInfoRec, BitRate) == 13);
static_assert(offsetof(MpegFileInfoRec, Mode) == 17);
static_assert(offsetof(MpegFileInfoRec, Frames) == 18);
static_assert(offsetof(MpegFileInfoRec, PlayTimeMs) == 22);
static_assert(offsetof(MpegFileInfoRec, MsPerFrame) == 26);
static_assert(offsetof(MpegFileInfoRec, Tag) == 38);
static_assert(sizeof(MpegFileInfoRec) == 166);

using MpegHandle = void*;
// Told after a file's information changed (file set, cleared or scanned);
// value: the status of the operation.
using MpegNotifyProc = void(WINAPI*)(int32_t value, void* user);
// Transforms `count` bytes in place that stand at `fileOffset` in the file.
using MpegDecryptProc = void(WINAPI*)(uint32_t user, uint32_t fileOffset, uint8_t* data, uint32_t count);

MMMPEG32_API int32_t WINAPI mpeg_Version();
MMMPEG32_API MpegHandle WINAPI mpeg_Init(int32_t* status, MpegNotifyProc notify, void* user);
MMMPEG32_API void WINAPI mpeg_Done(MpegHandle* handle);
MMMPEG32_API int32_t WINAPI mpeg_SetDecryptCallback(MpegHandle handle, MpegDecryptProc callback, uint32_t user);
// 0: off; any other value: file bytes pass through the decrypt callback.
MMMPEG32_API int32_t WINAPI mpeg_SetDecryptMode(MpegHandle handle, uint8_t mode);
MMMPEG32_API int32_t WINAPI mpeg_Clear(MpegHandle handle);
// Bytes at the end of the file (before an ID3v1 tag) that hold no audio.
MMMPEG32_API int32_t WINAPI mpeg_SetTrailingHeader(MpegHandle handle, uint32_t size);
// Kept for callers: every seek decodes the frames before its target and
// starts exactly where a decode from the start would be.
MMMPEG32_API int32_t WINAPI mpeg_SetExactPosition(MpegHandle handle, BOOL exact);
MMMPEG32_API int32_t WINAPI mpeg_SetFileName(MpegHandle handle, const char* fileName);
// The same under a wide name, opened as given whatever the code page;
// mpeg_GetFileName then reports it in the code page, "?" for what does not
// fit (a scan file is neither read nor written for such a name).
MMMPEG32_API int32_t WINAPI mpeg_SetFileNameW(MpegHandle handle, const wchar_t* fileName);
MMMPEG32_API int32_t WINAPI mpeg_GetFileName(MpegHandle handle, char* buffer, int32_t size);
MMMPEG32_API BOOL WINAPI mpeg_GetEmpty(MpegHandle handle);
MMMPEG32_API int32_t WINAPI mpeg_GetFileInfo(MpegHandle handle, MpegFileInfoRec* info);
MMMPEG32_API int32_t WINAPI mpeg_SetChannelMode(MpegHandle handle, int32_t mode);
MMMPEG32_API int32_t WINAPI mpeg_GetChannelMode(MpegHandle handle, uint8_t* mode);
MMMPEG32_API int32_t WINAPI mpeg_SetPosition(MpegHandle handle, int32_t frame);
MMMPEG32_API int32_t WINAPI mpeg_GetPosition(MpegHandle handle);
// Positions at a sample frame of the stream (after the encoder's delay is
// trimmed); the next read starts with exactly the sample a decode from the
// start gives there. Never called by the program.
MMMPEG32_API int32_t WINAPI mpeg_SetSamplePosition(MpegHandle handle, uint32_t sample);
MMMPEG32_API int32_t WINAPI mpeg_OpenFile(MpegHandle handle);
MMMPEG32_API int32_t WINAPI mpeg_CloseFile(MpegHandle handle);
MMMPEG32_API int32_t WINAPI mpeg_ResetFile(MpegHandle handle);
// Bytes of 16-bit PCM written (0 at the end), or minus a status code.
MMMPEG32_API int32_t WINAPI mpeg_ReadDataBytes(MpegHandle handle, void* buffer, int32_t count);
// The same with the frame position after the read in *frame; never called by the program.
MMMPEG32_API int32_t WINAPI mpeg_ReadDataBytesEx(MpegHandle handle, void* buffer, int32_t count, int32_t* frame);
// Safe from any thread: the read in progress returns what it has. A read
// that starts later is not touched by it.
MMMPEG32_API int32_t WINAPI mpeg_AbortReadData(MpegHandle handle);
MMMPEG32_API BOOL WINAPI mpeg_GetDone(MpegHandle handle);
// Walks every frame and sets the exact frame count and the average bit
// rate. writeScanFile non-zero: the result is also stored as "<name>.scn"
// (the name with its extension replaced), which mpeg_SetFileName takes
// later instead of scanning again. reserved1 and reserved2 must be 0.
MMMPEG32_API int32_t WINAPI mpeg_ScanFile(MpegHandle handle, uint8_t writeScanFile, uint32_t reserved1, uint32_t reserved2);
// The same over the frames [firstFrame, firstFrame + count) only (count 0:
// to the end); the bit rate becomes the average over that range.
MMMPEG32_API int32_t WINAPI mpeg_ScanFileEx(MpegHandle handle, uint32_t firstFrame, uint32_t count);
// Writes the set file, passed through the decrypt callback from byte
// `startOffset` on for `length` bytes (0: to the end), to `fileName`.
// reserved must be 0.
MMMPEG32_API int32_t WINAPI mpeg_EncryptFile(MpegHandle handle, const char* fileName, uint32_t startOffset, uint32_t length, uint32_t reserved);
// True and the 128-byte ID3v1 block when the file ends in one.
MMMPEG32_API BOOL WINAPI mpeg_ReadID3Tag(MpegHandle handle, uint8_t* tag);
// 0 when the buffer holds the text of `code`.
MMMPEG32_API int32_t WINAPI mpeg_GetErrorText(int32_t code, char* buffer, int32_t size);
// Audio starts `offset` bytes into the file (for MPEG data embedded in
// another container); takes effect at the next mpeg_SetFileName.
MMMPEG32_API int32_t WINAPI mpeg_SetFileOffset(MpegHandle handle, uint32_t offset);
