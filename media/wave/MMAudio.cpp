#include "media/wave/MMAudio.h"

#include <algorithm>
#include <memory>

#include "framework/Exceptions.h"
#include "framework/Layout.h"

namespace {
[[noreturn]] void Abstract() { throw wc::Exception("Abstract Error"); }
}  // namespace

TMMFileTag FileTagOf(const MpegTagInfo& tag) {
    return TMMFileTag{tag.Title, tag.Artist, tag.Album, tag.Year, tag.Comment, tag.Track, tag.Genre};
}

uint32_t TMMCustomFile::TrailingHeader() const { Abstract(); }
void TMMCustomFile::SetTrailingHeader(uint32_t) { Abstract(); }
bool TMMCustomFile::ReadTag(MpegTagInfo&) { Abstract(); }
void TMMCustomFile::SetDecryptCallback(TMpegDecryptProc, uint32_t) { Abstract(); }
void TMMCustomFile::SetDecryptMode(uint8_t) { Abstract(); }
void TMMCustomFile::ScanFile(uint8_t, uint32_t, uint32_t) { Abstract(); }
void TMMCustomFile::ScanFileEx(uint32_t, uint32_t) { Abstract(); }
void TMMCustomFile::EncryptFile(const std::string&, uint32_t, uint32_t, uint32_t) { Abstract(); }
void TMMCustomFile::AbortRead() { Abstract(); }

int32_t TMMCustomFile::SampleRate() const {
    const WAVEFORMATEX* format = PWaveFormat();
    return format ? int32_t(std::min<uint32_t>(format->nSamplesPerSec, INT32_MAX)) : 0;
}

int32_t TMMCustomFile::Channels() const {
    const WAVEFORMATEX* format = PWaveFormat();
    return format ? int32_t(format->nChannels) : 0;
}

void TMMCustomFile::Change() {
    if (OnChange) OnChange(this);
    if (OnChanged) OnChanged(this);
}

bool TMMCustomFile::SetProperty(const std::string& name, const wc::LayoutValue& value) {
    if (name == "Enabled") {
        SetEnabled(value.AsBoolean());
        return true;
    }
    return TMMDSPComponent::SetProperty(name, value);
}

// ---- streamable records ----

namespace {

// Made with the first registration, freed with FreeStreamables.
std::unique_ptr<std::vector<TStreamableRec>> streamables;

// The envelope point registers itself on first use of the list.
void EnsureStartupStreamables();

std::vector<TStreamableRec>& StreamableList() {
    if (!streamables) streamables = std::make_unique<std::vector<TStreamableRec>>();
    return *streamables;
}

auto FindSorted(std::vector<TStreamableRec>& list, std::string_view name) {
    return std::lower_bound(list.begin(), list.end(), name,
                            [](const TStreamableRec& rec, std::string_view key) { return rec.ClassName < key; });
}

void Insert(TStreamableRec rec) {
    auto& list = StreamableList();
    auto at = FindSorted(list, rec.ClassName);
    if (at != list.end() && at->ClassName == rec.ClassName) return;
    list.insert(at, std::move(rec));
}

bool startupDone = false;

void EnsureStartupStreamables() {
    if (startupDone) return;
    startupDone = true;
    Insert({"TMMEnvelopePoint",
            [](TMMStream& stream, void* object) { static_cast<TMMEnvelopePoint*>(object)->ReadFromStream(stream); },
            [](TMMStream& stream, const void* object) {
                static_cast<const TMMEnvelopePoint*>(object)->WriteToStream(stream);
            }});
}

}  // namespace

void RegisterStreamable(TStreamableRec rec) {
    EnsureStartupStreamables();
    Insert(std::move(rec));
}

const TStreamableRec* FindStreamable(std::string_view className) {
    EnsureStartupStreamables();
    auto& list = StreamableList();
    auto at = FindSorted(list, className);
    return at != list.end() && at->ClassName == className ? &*at : nullptr;
}

std::vector<std::string> StreamableClassNames() {
    EnsureStartupStreamables();
    std::vector<std::string> names;
    for (const TStreamableRec& rec : StreamableList()) names.push_back(rec.ClassName);
    return names;
}

void FreeStreamables() {
    streamables.reset();
    // Freed at shutdown; a later use starts over with the start-up entries.
    startupDone = false;
}
