// The INFO and DISP lists a RIFF file carries, and the parsing of their
// chunk bodies. Works on bytes in memory only: nothing here calls the system.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A four-character code as RIFF stores it: the first character lowest. The
// system's own FOURCC type where there is one, so that its codes match exactly.
#if defined(_WIN32)
using RiffId = unsigned long;
#else
using RiffId = uint32_t;
#endif
static_assert(sizeof(RiffId) == 4, "a four-character code is 32 bits");

constexpr uint32_t RiffFourCC(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 | uint32_t(uint8_t(d)) << 24;
}

struct InfoId {
    RiffId id;
    const char* name;
    const char* description;
};
constexpr size_t kInfoIdCount = 23;
extern const std::array<InfoId, kInfoIdCount> InfoIdTable;
// The row of an id in InfoIdTable, or -1.
int InfoIdIndex(RiffId id);

// The texts of a LIST/INFO chunk, one entry per InfoIdTable row. A text lies
// either in the chunk body as read from the file or in its own replacement.
class InfoList {
public:
    // The text for a row (empty when absent); the view lives until the next change.
    std::string_view Text(size_t index) const;
    std::string_view Text(RiffId id) const;
    // Replaces a text; false for an id not in the table.
    bool SetText(RiffId id, std::string_view text);
    // True when at least one text is non-empty.
    bool HasTexts() const;

    // Takes a LIST/INFO body (without its list type) and finds its texts.
    void TakeBody(std::vector<char> body);
    bool HasBody() const { return !body_.empty(); }

private:
    struct Entry {
        uint32_t offset = 0;  // into body_
        uint32_t length = 0;
        std::optional<std::string> replaced;
    };
    std::vector<char> body_;
    std::array<Entry, kInfoIdCount> entries_{};
};

constexpr uint32_t kDisplayText = 1;    // CF_TEXT: zero-terminated text
constexpr uint32_t kDisplayBitmap = 8;  // CF_DIB: a packed device-independent bitmap

struct DisplayEntry {
    uint32_t type = 0;   // clipboard format number
    uint32_t flags = 0;
    std::vector<uint8_t> data;                         // as read from the file
    std::optional<std::vector<uint8_t>> replacement;   // written instead of data when set
    const std::vector<uint8_t>& Current() const { return replacement ? *replacement : data; }
};

// The DISP chunks of a file, in file order.
class DisplayList {
public:
    const std::vector<DisplayEntry>& Entries() const { return entries_; }
    std::vector<DisplayEntry>& Entries() { return entries_; }
    void Add(uint32_t type, std::vector<uint8_t> data);
    // Takes a DISP chunk body: the 4-byte clipboard format, then the data.
    // False (nothing added) for a body of 4 bytes or less.
    bool AddChunkBody(const uint8_t* body, size_t size);
    // The first entry of that type, or null.
    const DisplayEntry* First(uint32_t type) const;

private:
    std::vector<DisplayEntry> entries_;
};
