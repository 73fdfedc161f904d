#include "media/playback/MMObj.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "framework/Exceptions.h"

void TMMObject::BeginUpdate() {
    if (updateCount_ == 0) DoChange(true);
    ++updateCount_;
}

void TMMObject::EndUpdate() {
    // An unmatched EndUpdate must not drive the count negative and lock out
    // every later notification.
    if (updateCount_ == 0) return;
    if (--updateCount_ == 0) DoChange(false);
}

void TMMObject::DoChange(bool changing) {
    if (changing)
        Changing();
    else
        Changed();
}

void TMMObject::Changing() {
    if (updateCount_ == 0 && OnChanging) OnChanging(this);
}

void TMMObject::Changed() {
    if (updateCount_ == 0 && OnChange) OnChange(this);
}

void TMMComponent::SetDesignMode(bool value) {
    if (designing_ == value) return;
    ApplyDesignMode(value);
}

namespace {

// Plain components keep no design mode, but media components they own do.
void ApplyToOwned(const wc::TComponent& owner, bool value) {
    for (size_t i = 0; i < owner.ComponentCount(); ++i) {
        wc::TComponent* owned = owner.Components(i);
        if (auto* media = dynamic_cast<TMMComponent*>(owned))
            media->ApplyDesignMode(value);
        else
            ApplyToOwned(*owned, value);
    }
}

}  // namespace

void TMMComponent::ApplyDesignMode(bool value) {
    designing_ = value;
    ApplyToOwned(*this, value);
}

TMMThreadEx::~TMMThreadEx() {
    Terminate();
    if (thread_.joinable()) thread_.join();
}

bool TMMThreadEx::Start() {
    if (thread_.joinable() || finished_.load()) return false;
    thread_ = std::thread([this] {
        Execute();
        finished_.store(true);
    });
    return true;
}

uint32_t TMMThreadEx::WaitFor() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
    return ReturnValue();
}

void TMMStream::WriteUInt32(uint32_t value) {
    const uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
    WriteBuffer(bytes, sizeof bytes);
}

uint8_t TMMStream::ReadUInt8() {
    uint8_t value = 0;
    ReadBuffer(&value, 1);
    return value;
}

uint32_t TMMStream::ReadUInt32() {
    uint8_t b[4] = {};
    ReadBuffer(b, sizeof b);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

void TMMMemoryStream::WriteBuffer(const void* data, size_t count) {
    if (count == 0) return;
    if (position_ > bytes_.size()) bytes_.resize(position_);
    if (bytes_.size() - position_ < count) bytes_.resize(position_ + count);
    std::memcpy(bytes_.data() + position_, data, count);
    position_ += count;
}

void TMMMemoryStream::ReadBuffer(void* data, size_t count) {
    if (position_ > bytes_.size() || bytes_.size() - position_ < count) throw wc::Exception("Stream read error");
    if (count == 0) return;
    std::memcpy(data, bytes_.data() + position_, count);
    position_ += count;
}

void TMMEnvelopePoint::WriteToStream(TMMStream& stream) const {
    stream.WriteUInt32(uint32_t(position_));
    stream.WriteUInt32(uint32_t(value_));
    stream.WriteUInt8(selected_ ? 1 : 0);
}

void TMMEnvelopePoint::ReadFromStream(TMMStream& stream) {
    // Read all three fields first, so a short stream leaves the point as it was.
    const auto position = int32_t(stream.ReadUInt32());
    const auto value = int32_t(stream.ReadUInt32());
    const bool selected = stream.ReadUInt8() != 0;
    position_ = position;
    value_ = value;
    selected_ = selected;
}

namespace {

struct DeviceIdName {
    TMMDeviceId id;
    const char* name;
};
constexpr DeviceIdName kDeviceIdNames[] = {{MapperId, "MapperId"}, {InvalidId, "InvalidId"}};

bool SameTextAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

}  // namespace

bool DeviceIdToIdent(TMMDeviceId id, std::string& ident) {
    for (const auto& entry : kDeviceIdNames)
        if (entry.id == id) {
            ident = entry.name;
            return true;
        }
    return false;
}

bool IdentToDeviceId(std::string_view ident, TMMDeviceId& id) {
    for (const auto& entry : kDeviceIdNames)
        if (SameTextAscii(ident, entry.name)) {
            id = entry.id;
            return true;
        }
    return false;
}

std::string DeviceIdToString(TMMDeviceId id) {
    std::string ident;
    if (DeviceIdToIdent(id, ident)) return ident;
    return std::to_string(id);
}

bool StringToDeviceId(std::string_view text, TMMDeviceId& id) {
    if (IdentToDeviceId(text, id)) return true;
    TMMDeviceId value = 0;
    const char* first = text.data();
    const char* last = first + text.size();
    if (first != last && *first == '+') ++first;  // from_chars takes no plus sign
    const auto [end, error] = std::from_chars(first, last, value);
    if (first == last || error != std::errc() || end != last) return false;
    id = value;
    return true;
}

TMMDeviceId LayoutDeviceId(const wc::LayoutValue& value) {
    using Kind = wc::LayoutValue::Kind;
    if (value.kind == Kind::Integer && value.integer >= INT32_MIN && value.integer <= INT32_MAX)
        return TMMDeviceId(value.integer);
    TMMDeviceId id = 0;
    if (value.kind == Kind::Identifier && IdentToDeviceId(value.text, id)) return id;
    const std::string shown = value.kind == Kind::Integer ? std::to_string(value.integer) : value.text;
    throw wc::Exception("Invalid device id: " + shown);
}

HCURSOR MMCursor(int id) {
    // The program's cursor table: loaded once, kept for the process's life
    // (cursors loaded from resources are shared and never destroyed).
    static const std::array<HCURSOR, MMCursorCount> table = [] {
        std::array<HCURSOR, MMCursorCount> cursors{};
        const HINSTANCE instance = GetModuleHandleA(nullptr);
        for (int i = 0; i < MMCursorCount; ++i)
            cursors[size_t(i)] = LoadCursorA(instance, MAKEINTRESOURCEA(MMCursorFirst + i));
        return cursors;
    }();
    if (id < MMCursorFirst || id >= MMCursorFirst + MMCursorCount) return nullptr;
    return table[size_t(id - MMCursorFirst)];
}
