#include "media/cd/MMSCSI.h"

#include <initializer_list>

namespace {

CDB Make(std::initializer_list<uint8_t> bytes) {
    CDB cdb;
    for (uint8_t b : bytes) cdb.bytes[cdb.length++] = b;
    return cdb;
}
uint8_t B3(uint32_t v) { return uint8_t(v >> 24); }
uint8_t B2(uint32_t v) { return uint8_t(v >> 16); }
uint8_t B1(uint32_t v) { return uint8_t(v >> 8); }
uint8_t B0(uint32_t v) { return uint8_t(v); }

}  // namespace

CDB CdbInquiry() { return Make({0x12, 0x00, 0x00, 0x00, CDInquiryLength, 0x00}); }
CDB CdbModeSelect6() { return Make({0x15, 0x10, 0x00, 0x00, CDModeListLength, 0x00}); }
CDB CdbRead10(uint32_t lba, uint8_t n) { return Make({0x28, 0, B3(lba), B2(lba), B1(lba), B0(lba), 0, 0, n, 0}); }
CDB CdbReadD4(uint32_t lba, uint8_t n) { return Make({0xD4, 0, B3(lba), B2(lba), B1(lba), B0(lba), 0, 0, n, 0}); }
CDB CdbReadD8(uint32_t lba, uint8_t n) {
    return Make({0xD8, 0, B3(lba), B2(lba), B1(lba), B0(lba), 0, 0, 0, n, 0, 0});
}
CDB CdbReadCD(uint32_t lba, uint8_t n) {
    return Make({0xBE, 0x04, B3(lba), B2(lba), B1(lba), B0(lba), 0, 0, n, 0xF0, 0, 0});
}
CDB CdbReadTOC() { return Make({0x43, 0, 0, 0, 0, 0, 0, B1(CDTOCLength), B0(CDTOCLength), 0}); }
CDB CdbReadCDText(uint16_t allocation) { return Make({0x43, 0, 0x05, 0, 0, 0, 0, B1(allocation), B0(allocation), 0}); }
CDB CdbSetSpeed(uint16_t speed) { return Make({0xBB, 0, B1(speed), B0(speed), 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}); }
CDB CdbPreventAllow(bool lock) { return Make({0x1E, 0, 0, 0, uint8_t(lock ? 1 : 0), 0}); }

const std::array<uint8_t, CDModeListLength> CDModeListA = {0x00, 0x00, 0x00, 0x08, 0x82, 0x00,
                                                           0x00, 0x00, 0x00, 0x00, 0x09, 0x40};
const std::array<uint8_t, CDModeListLength> CDModeListB = {0x00, 0x00, 0x00, 0x08, 0x00, 0x00,
                                                           0x00, 0x00, 0x00, 0x00, 0x09, 0x30};
const std::array<uint8_t, CDModeListLength> CDModeListC = {0x00, 0x00, 0x00, 0x08, 0x00, 0x00,
                                                           0x00, 0x00, 0x00, 0x00, 0x09, 0x30};
