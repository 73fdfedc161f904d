// INFO and DISP lists: the INFO id table, the walk over a LIST/INFO body's
// sub-chunks and the DISP entries.
#include "media/wave/MMRiffLists.h"

#include <algorithm>
#include <utility>

namespace {

constexpr size_t kChunkHeaderBytes = 8;  // id and size

bool ReadU32(const uint8_t* data, size_t size, size_t at, uint32_t& value) {
    if (at > size || size - at < 4) return false;
    value = uint32_t(data[at]) | uint32_t(data[at + 1]) << 8 | uint32_t(data[at + 2]) << 16 |
            uint32_t(data[at + 3]) << 24;
    return true;
}

}  // namespace

const std::array<InfoId, kInfoIdCount> InfoIdTable = {{
    {RiffFourCC('I', 'A', 'R', 'L'), "Archival Location", "Indicates where the subject of the file is archived."},
    {RiffFourCC('I', 'A', 'R', 'T'), "Artist",
     "Lists the artist of the original subject of the file. For example, \"Michaelangelo.\""},
    {RiffFourCC('I', 'C', 'M', 'S'), "Commissioned",
     "Lists the name of the person or organization that commissioned the subject of the file. For example, "
     "\"Pope Julian II.\""},
    {RiffFourCC('I', 'C', 'M', 'T'), "Comments",
     "Provides general comments about the file or the subject of the file. If the comment is several sentences "
     "long, end each sentence with a period. Do not include newline characters."},
    {RiffFourCC('I', 'C', 'O', 'P'), "Copyright",
     "Records the copyright information for the file. For example, \"Copyright Encyclopedia International 1991.\" "
     "If there are multiple copyrights, separate them by a semicolon followed by a space."},
    {RiffFourCC('I', 'C', 'R', 'D'), "Creation date",
     "Specifies the date the subject of the file was created. List dates in year-month-day format, padding "
     "one-digit months and days with a zero on the left. For example, \"1553-05-03\" for May 3, 1553."},
    {RiffFourCC('I', 'C', 'R', 'P'), "Cropped",
     "Describes whether an image has been cropped and, if so, how it was cropped. For example, \"lower right "
     "corner.\""},
    {RiffFourCC('I', 'D', 'I', 'M'), "Dimensions",
     "Specifies the size of the original subject of the file. For example, \"8.5 in h, 11 in w.\""},
    {RiffFourCC('I', 'D', 'P', 'I'), "Dots Per Inch",
     "Stores dots per inch setting of the digitizer used to produce the file, such as \"300.\""},
    {RiffFourCC('I', 'E', 'N', 'G'), "Engineer",
     "Stores the name of the engineer who worked on the file. If there are multiple engineers, separate the names "
     "by a semicolon and a blank. For example, \"Smith, John; Adams, Joe.\""},
    {RiffFourCC('I', 'G', 'N', 'R'), "Genre",
     "Describes the original work, such as, \"landscape,\" \"portrait,\" \"still life,\" etc."},
    {RiffFourCC('I', 'K', 'E', 'Y'), "Keywords",
     "Provides a list of keywords that refer to the file or subject of the file. Separate multiple keywords with a "
     "semicolon and a blank. For example, \"Seattle; aerial view; scenery.\""},
    {RiffFourCC('I', 'L', 'G', 'T'), "Lightness",
     "Describes the changes in lightness settings on the digitizer required to produce the file. Note that the "
     "format of this information depends on hardware used."},
    {RiffFourCC('I', 'M', 'E', 'D'), "Medium",
     "Describes the original subject of the file, such as, \"computer image,\" \"drawing,\" \"lithograph,\" and so "
     "forth."},
    {RiffFourCC('I', 'N', 'A', 'M'), "Name",
     "Stores the title of the subject of the file, such as, \"Seattle From Above.\""},
    {RiffFourCC('I', 'P', 'L', 'T'), "Palette Setting",
     "Specifies the number of colors requested when digitizing an image, such as \"256.\""},
    {RiffFourCC('I', 'P', 'R', 'D'), "Product",
     "Specifies the name of the title the file was originally intended for, such as \"Encyclopedia of Pacific "
     "Northwest Geography.\""},
    {RiffFourCC('I', 'S', 'B', 'J'), "Subject", "Describes the contents of the file, such as \"Aerial view of Seattle.\""},
    {RiffFourCC('I', 'S', 'F', 'T'), "Software",
     "Identifies the name of the software package used to create the file, such as \"Microsoft WaveEdit.\""},
    {RiffFourCC('I', 'S', 'H', 'P'), "Sharpness",
     "Identifies the changes in sharpness for the digitizer required to produce the file (the format depends on "
     "the hardware used)."},
    {RiffFourCC('I', 'S', 'R', 'C'), "Source",
     "Identifies the name of the person or organization who supplied the original subject of the file. For "
     "example, \"Trey Research.\""},
    {RiffFourCC('I', 'S', 'R', 'F'), "Source Form",
     "Identifies the original form of the material that was digitized, such as \"slide,\" \"paper,\" \"map,\" and "
     "so forth. This is not necessarily the same as IMED."},
    {RiffFourCC('I', 'T', 'C', 'H'), "Technician",
     "Identifies the technician who digitized the subject file. For example, \"Smith, John.\""},
}};

int InfoIdIndex(RiffId id) {
    for (size_t i = 0; i < InfoIdTable.size(); ++i)
        if (InfoIdTable[i].id == id) return int(i);
    return -1;
}

std::string_view InfoList::Text(size_t index) const {
    if (index >= entries_.size()) return {};
    const Entry& entry = entries_[index];
    if (entry.replaced) return *entry.replaced;
    if (entry.length == 0) return {};
    return std::string_view(body_.data() + entry.offset, entry.length);
}

std::string_view InfoList::Text(RiffId id) const {
    const int index = InfoIdIndex(id);
    return index < 0 ? std::string_view() : Text(size_t(index));
}

bool InfoList::SetText(RiffId id, std::string_view text) {
    const int index = InfoIdIndex(id);
    if (index < 0) return false;
    // A text ends at its first zero, as it will in the file.
    entries_[size_t(index)].replaced = std::string(text.substr(0, text.find('\0')));
    return true;
}

bool InfoList::HasTexts() const {
    for (size_t i = 0; i < entries_.size(); ++i)
        if (!Text(i).empty()) return true;
    return false;
}

void InfoList::TakeBody(std::vector<char> body) {
    body_ = std::move(body);
    entries_ = {};
    const auto* bytes = reinterpret_cast<const uint8_t*>(body_.data());
    const size_t size = body_.size();
    size_t at = 0;
    for (;;) {
        uint32_t id = 0, length = 0;
        if (!ReadU32(bytes, size, at, id) || !ReadU32(bytes, size, at + 4, length)) break;
        const size_t textStart = at + kChunkHeaderBytes;
        const size_t held = std::min<size_t>(length, size - textStart);
        const int index = InfoIdIndex(id);
        if (index >= 0) {
            const char* text = body_.data() + textStart;
            entries_[size_t(index)].offset = uint32_t(textStart);
            entries_[size_t(index)].length = uint32_t(std::find(text, text + held, '\0') - text);
        }
        const uint64_t next = uint64_t(textStart) + length + (length & 1);
        if (next >= size) break;
        at = size_t(next);
    }
}

void DisplayList::Add(uint32_t type, std::vector<uint8_t> data) {
    DisplayEntry entry;
    entry.type = type;
    entry.data = std::move(data);
    entries_.push_back(std::move(entry));
}

bool DisplayList::AddChunkBody(const uint8_t* body, size_t size) {
    uint32_t type = 0;
    if (size <= 4 || !ReadU32(body, size, 0, type)) return false;
    Add(type, std::vector<uint8_t>(body + 4, body + size));
    return true;
}

const DisplayEntry* DisplayList::First(uint32_t type) const {
    for (const DisplayEntry& entry : entries_)
        if (entry.type == type) return &entry;
    return nullptr;
}
