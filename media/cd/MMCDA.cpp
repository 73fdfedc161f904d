// Threads: see the header.
#include "media/cd/MMCDA.h"

#include <shlwapi.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "framework/Handles.h"
#include "media/MMErrors.h"

namespace {

constexpr const char* kNotTrackFile = "This is not a valid CDA file";
constexpr const char* kUnableToLoad = "Unable to load CDA file";
// The tag record's genre index a CD track reports.
constexpr uint8_t kTrackGenre = 12;
// "Track05": the number follows a five-letter prefix.
constexpr size_t kTrackPrefixLength = 5;

std::string Upper(std::string text) {
    for (char& c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// A whole decimal number with an optional sign; false for anything else.
bool ParseInteger(const std::string& text, int& value) {
    size_t at = 0;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    if (at == text.size()) return false;
    int64_t number = 0;
    for (; at < text.size(); ++at) {
        if (!std::isdigit(static_cast<unsigned char>(text[at]))) return false;
        number = number * 10 + (text[at] - '0');
        if (number > INT32_MAX) return false;
    }
    value = int(negative ? -number : number);
    return true;
}

// A DWORD value of a key under the current user, or `fallback`.
int32_t ReadSetting(const std::string& key, const char* value, int32_t fallback) {
    wc::RegistryKeyHandle handle;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, handle.put()) != ERROR_SUCCESS) return fallback;
    DWORD type = 0, data = 0, size = sizeof data;
    if (::RegQueryValueExA(handle.get(), value, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof data)
        return fallback;
    return int32_t(data);
}

std::string TextField(const CDTextBlock& block, int entry, int packType) {
    const auto& field = block.fields[size_t(entry)][size_t(CDTextFieldIndex(uint8_t(packType)))];
    return std::string(field.data(), std::find(field.begin(), field.end(), '\0'));
}

}  // namespace

TMMCDAFile::TMMCDAFile(wc::TComponent* owner) : TMMCustomFile(owner), reader_(std::make_unique<TMMCDReader>(nullptr)) {
    // The reader feeds this component, which has no Input of its own to publish.
    AllowInputLink = true;
    reader_->SetOutput(this);
}

TMMCDAFile::~TMMCDAFile() {
    try {
        // No change notification while going.
        if (opened_) {
            opened_ = false;
            reader_->UnlockMedium();
            reader_->Closed();
        }
    } catch (...) {
        // Destruction goes on whatever the drive answered.
    }
    reader_.reset();
    DetachFromChain();
}

bool TMMCDAFile::IsTrackFileName(const std::string& fileName) { return Upper(fileName).find(".CDA") != std::string::npos; }

int TMMCDAFile::TrackIndexOf(const std::string& fileName) {
    std::string name = ::PathFindFileNameA(fileName.c_str());
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    std::string number = name.size() > kTrackPrefixLength ? name.substr(kTrackPrefixLength) : std::string();
    if (!number.empty() && number[0] == '0') number.erase(0, 1);
    int index = -1;
    if (!ParseInteger(number, index)) return -1;
    return index > 0 ? index - 1 : index;
}

void TMMCDAFile::CloseTrack() {
    if (opened_) {
        opened_ = false;
        reader_->UnlockMedium();
        reader_->Closed();
    }
    if (!fileName_.empty()) {
        fileName_.clear();
        trackIndex_ = -1;
        Change();
    }
}

void TMMCDAFile::ApplyDeviceSettings() {
    const std::string key = std::string(CDASettingsKey) + "\\Devices\\" + reader_->DeviceName();
    reader_->SetDeviceType(ReadSetting(key, "Type", reader_->DeviceType()));
    reader_->SetSpeed(ReadSetting(key, "Speed", -1));
}

void TMMCDAFile::SetFileName(const std::string& value) {
    if (IsDestroying() || value == fileName_) return;
    CloseTrack();
    if (value.empty()) return;
    // Decided by the name alone, before any drive is asked.
    if (!IsTrackFileName(value)) throw EMMAudioError(kNotTrackFile);
    int index = TrackIndexOf(value);

    char full[MAX_PATH] = {};
    const DWORD length = ::GetFullPathNameA(value.c_str(), sizeof full, full, nullptr);
    const char drive = char(std::toupper(static_cast<unsigned char>(length > 0 && length < sizeof full ? full[0] : value[0])));
    const TMMCDDeviceList& devices = reader_->Devices();
    auto device = std::find_if(devices.begin(), devices.end(), [drive](const TMMCDDeviceInfo& info) {
        return char(std::toupper(static_cast<unsigned char>(info.DriveLetter))) == drive;
    });
    if (device == devices.end()) throw EMMAudioError(kUnableToLoad);
    reader_->SetDeviceID(int32_t(device - devices.begin()));
    ApplyDeviceSettings();

    // A track the disc does not have cannot be loaded either.
    if (index < 0 || !reader_->ReadTOC() || index >= reader_->Tracks().count) {
        trackIndex_ = -1;
        throw EMMAudioError(kUnableToLoad);
    }
    trackIndex_ = index;
    fileName_ = value;
    reader_->SetBlockCount(CDDefaultBlockCount);
    reader_->SelectTrack(index);
    reader_->LockMedium();
    opened_ = true;
    Change();
}

void TMMCDAFile::SetEnabled(bool value) {
    TMMCustomFile::SetEnabled(value);
    reader_->SetEnabled(value);
}

int32_t TMMCDAFile::Time() const {
    if (IsEmpty() || trackIndex_ < 0 || trackIndex_ >= reader_->Tracks().count) return 0;
    return CDMSFToMs(reader_->Tracks().tracks[size_t(trackIndex_)].length);
}

int32_t TMMCDAFile::PositionMs() const {
    if (IsEmpty()) return 0;
    const int32_t frames = std::max(reader_->CurrentSector() - reader_->FirstSector(), 0);
    return CDMSFToMs(CDFramesToMSF(uint32_t(frames)));
}

void TMMCDAFile::SetPositionMs(int32_t value) {
    if (IsEmpty()) return;
    const int32_t ms = std::clamp(value, 0, Time());
    reader_->SetPosition(int32_t(CDMSFToFrames(CDMsToMSF(ms))) + reader_->FirstSector());
}

bool TMMCDAFile::ReadTag(MpegTagInfo& tag) {
    tag = MpegTagInfo{};
    tag.Genre = kTrackGenre;
    if (IsEmpty() || trackIndex_ < 0) return false;
    try {
        // The first text block (the disc's first language): entry 0 is the
        // disc, entry n the n-th track.
        const int entry = trackIndex_ + 1;
        if (entry <= CDMaxTracks && reader_->ReadCDText() && reader_->CDText()[0]) {
            const CDTextBlock& block = *reader_->CDText()[0];
            tag.Title = TextField(block, entry, 0x80);
            tag.Artist = TextField(block, entry, 0x81);
            tag.Album = TextField(block, 0, 0x80);
        }
        if (tag.Title.empty() && tag.Artist.empty()) {
            char title[16];
            std::snprintf(title, sizeof title, "Track %.2d", trackIndex_ + 1);
            tag.Title = title;
        }
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool TMMCDAFile::GetFileInfo(const std::string& fileName, TMMFileInfo& info) {
    if (::GetFileAttributesA(fileName.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
    try {
        TMMCDAFile file(nullptr);
        file.SetFileName(fileName);
        info = TMMFileInfo{};
        info.Kind = FileKindCDTrack;
        info.LengthMs = uint32_t(file.Time());
        info.Info[1] = uint32_t(file.BitRate());
        MpegTagInfo tag;
        file.ReadTag(tag);
        info.Tag = FileTagOf(tag);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void TMMCDAFile::AbortRead() {
    if (!IsEmpty()) reader_->Abort();
}

bool TMMCDAFile::SetProperty(const std::string& name, const wc::LayoutValue& value) {
    if (name == "FileName") {
        SetFileName(value.AsString());
        return true;
    }
    return TMMCustomFile::SetProperty(name, value);
}
