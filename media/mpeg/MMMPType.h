// Types of the MPEG audio file reader: the enumerations, the file
// information record the decoder library fills, the ID3 version 1 tag
// record and its genre names.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "media/wave/MMAudioTypes.h"

enum TMpegVersion : uint8_t { v2LSF, v1 };
enum TSampleMode : uint8_t { smStereo, smJointStereo, smDualChannel, smSingleChannel };
enum TChannelMode : uint8_t { cmLeft, cmRight, cmBoth, cmDownMix };

inline constexpr size_t Id3v1TagBytes = 128;

#pragma pack(push, 1)
// Filled by the decoder library's mpeg_GetFileInfo; packed, little-endian.
struct MpegFileInfo {
    uint8_t Version;        // TMpegVersion ordinal
    int32_t Layer;
    uint32_t Reserved5;     // the library's own (channels)
    int32_t SampleRate;     // Hz
    int32_t BitRate;        // kbit/s; 0 until a variable-rate file is scanned
    uint8_t Mode;           // TSampleMode ordinal
    int32_t Frames;
    int32_t PlayTime;       // milliseconds
    double MsPerFrame;
    uint32_t Reserved34;    // the library's own
    uint8_t Tag[Id3v1TagBytes];  // the ID3 version 1 block
};
#pragma pack(pop)
static_assert(offsetof(MpegFileInfo, Layer) == 1);
static_assert(offsetof(MpegFileInfo, SampleRate) == 9);
static_assert(offsetof(MpegFileInfo, BitRate) == 13);
static_assert(offsetof(MpegFileInfo, Mode) == 17);
static_assert(offsetof(MpegFileInfo, Frames) == 18);
static_assert(offsetof(MpegFileInfo, PlayTime) == 22);
static_assert(offsetof(MpegFileInfo, MsPerFrame) == 26);
static_assert(offsetof(MpegFileInfo, Tag) == 38);
static_assert(sizeof(MpegFileInfo) == 166);

// Offsets in the ID3 version 1 block: "TAG", title (30), artist (30),
// album (30), year (4), comment (28), zero marker and track, genre.
namespace Id3v1 {
inline constexpr size_t Title = 3, TitleBytes = 30;
inline constexpr size_t Artist = 33, ArtistBytes = 30;
inline constexpr size_t Album = 63, AlbumBytes = 30;
inline constexpr size_t Year = 93, YearBytes = 4;
inline constexpr size_t Comment = 97, CommentBytes = 28;
inline constexpr size_t MarkerTrack = 125;
inline constexpr size_t Genre = 127;
}  // namespace Id3v1

inline constexpr size_t MpegGenreCount = 126;
extern const std::array<const char*, MpegGenreCount> MpegGenreNames;

// Fills `tag` from a 128-byte ID3 version 1 block.
void MpegTagFromBlock(const uint8_t* block, MpegTagInfo& tag);
