#include "media/cd/MMCDATyp.h"

const std::array<const char*, 25> CDDriveTypeNames = {
    "AutoDetect", "ATAPI",   "CYBER",     "DEC",     "GRUNDIG", "HITACHI", "HP",      "IBM",    "IMS",
    "KODAK",      "MATSHITA", "MITSUMI",  "MP",      "MS",      "NEC",     "PANASONIC", "PHILIPS", "PIONEER",
    "PLASMON",    "PLEXTOR", "RICOH",     "SONY",    "TOSHIBA", "TEAC",    "YAMAHA"};

int CDTextFieldIndex(uint8_t packType) {
    if (packType >= 0x80 && packType <= 0x87) return packType - 0x80;
    if (packType == 0x8E) return 8;
    return -1;
}

uint32_t CDFramesToMSF(uint32_t frames) {
    const uint32_t minutes = frames / 4500, seconds = (frames / 75) % 60, rest = frames % 75;
    return (minutes & 0xFF) | (seconds << 8) | (rest << 16);
}

uint32_t CDMSFToFrames(uint32_t msf) {
    return ((msf >> 16) & 0xFF) + 75 * ((msf >> 8) & 0xFF) + 4500 * (msf & 0xFF);
}
