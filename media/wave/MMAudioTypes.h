// What the audio file readers' common base (MMAudio.h) trades in with the
// readers of tagged and encrypted files: the tag record that the MPEG reader
// fills from an ID3 version 1 block and the CD track reader from its disc
// data, and the decrypt routine handed to the MPEG decoder library. Kept
// apart so that the base needs no reader's own types.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// A file's tag, texts trimmed; its layout follows the ID3 version 1 block.
struct MpegTagInfo {
    std::string Title;
    std::string Artist;
    std::string Album;
    std::string Year;
    std::string Comment;
    uint16_t Track = 0;      // the 16-bit value at block offset 125: zero marker, then track
    uint8_t Genre = 0;
    std::string GenreText;   // set only for a genre of 125 or less
    bool Flag = false;       // always false
};

// A decrypt routine handed to the decoder library: transforms `count` bytes
// at `fileOffset` of the file in place.
using TMpegDecryptProc = void(WINAPI*)(uint32_t user, uint32_t fileOffset, uint8_t* data, uint32_t count);
