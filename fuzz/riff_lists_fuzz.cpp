// The LIST/INFO body walk and the DISP chunk body, with every text read back.
#include <cstring>
#include <memory>

#include "FuzzInput.h"
#include "media/wave/MMRiffLists.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    InfoList info;
    info.TakeBody(std::vector<char>(data, data + size));
    size_t total = 0;
    for (size_t i = 0; i < kInfoIdCount; ++i) {
        const std::string_view text = info.Text(i);
        for (char ch : text) total += uint8_t(ch);  // every byte of every text is read
    }
    (void)info.HasTexts();
    if (size >= 8) {
        uint32_t id;
        std::memcpy(&id, data, 4);
        info.SetText(id, std::string_view(reinterpret_cast<const char*>(data) + 4, size - 4));
        (void)info.Text(id);
    }
    DisplayList display;
    std::unique_ptr<uint8_t[]> body(new uint8_t[size ? size : 1]);
    if (size) std::memcpy(body.get(), data, size);
    display.AddChunkBody(body.get(), size);
    if (const DisplayEntry* entry = display.First(kDisplayBitmap)) total += entry->Current().size();
    return int(total & 0);
}
