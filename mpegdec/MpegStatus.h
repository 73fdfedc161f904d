// The status codes of the library's entry points and of its decoding
// step: 0 for success, otherwise one of these, whose text
// mpeg_GetErrorText gives.
#pragma once

enum MpegStatus : int {
    MPEG_OK = 0,
    MPEG_ERR_HANDLE = 1,            // not a live decoder instance
    MPEG_ERR_NO_FILE = 2,           // no usable file is set
    MPEG_ERR_OPEN = 3,              // the file cannot be opened
    MPEG_ERR_READ = 4,              // the file cannot be read
    MPEG_ERR_NO_FRAMES = 5,         // no MPEG audio frames in the file
    MPEG_ERR_FREE_FORMAT = 6,       // free-format frames whose length is not found between the smallest
                                    // and the largest a free-format stream may have (a rate below the
                                    // layer's lowest or above its highest)
    MPEG_ERR_RESERVED_FIELD = 7,    // frame header with a reserved bit rate or sample rate
    MPEG_ERR_ID3V2_SIZE = 8,        // ID3v2 tag size points past the end of the file
    MPEG_ERR_NO_LAYER3_CODEC = 9,   // no system decoder for format tag 0x0055
    MPEG_ERR_NO_LAYER12_CODEC = 10, // no system decoder for format tag 0x0050
    MPEG_ERR_DECODE = 11,           // the system decoder failed
    MPEG_ERR_NOT_OPEN = 12,         // the file is not open
    MPEG_ERR_POSITION = 13,         // frame number out of range
    MPEG_ERR_ARGUMENT = 14,         // invalid argument
    MPEG_ERR_WRITE = 15,            // a file cannot be written
    MPEG_ERR_TOO_LARGE = 16,        // file larger than 2 GB
    MPEG_ERR_NO_CALLBACK = 17,      // decryption asked for without a callback
    MPEG_ERR_WAVE_NO_MPEG = 18,     // a WAVE file without MPEG audio data
    MPEG_ERR_BUSY = 19,             // the file is open: close it first
    MPEG_ERR_MEMORY = 20,           // out of memory
    MPEG_ERR_INTERNAL = 21,         // an unexpected failure inside the library
    MPEG_ERR_IN_USE = 22,           // another call (on another thread) is using the instance
};
