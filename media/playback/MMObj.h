// The media library's base classes: data objects with change notification
// and an update lock, components with a design mode, worker threads, the
// envelope point with its byte layout in streams, the names of the special
// device ids, and the library's cursors.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "framework/Components.h"

class TMMObject;
using TMMObjectEvent = std::function<void(TMMObject* sender)>;

// A data object that tells listeners before and after it changes. Changes
// made between BeginUpdate and EndUpdate are announced once, as one change.
class TMMObject {
public:
    TMMObject() = default;
    virtual ~TMMObject() = default;
    TMMObject(const TMMObject&) = delete;
    TMMObject& operator=(const TMMObject&) = delete;

    void BeginUpdate();
    void EndUpdate();
    int32_t UpdateCount() const noexcept { return updateCount_; }

    TMMObjectEvent OnChanging;
    TMMObjectEvent OnChange;

    // Announce a change; both stay silent while an update bracket is open.
    virtual void Changing();
    virtual void Changed();

protected:
    // Routes to Changing (true) or Changed (false).
    virtual void DoChange(bool changing);

private:
    int32_t updateCount_ = 0;
};

// A media component: knows whether it is being designed, and passes a new
// design mode on to the media components it owns.
class TMMComponent : public wc::TComponent {
public:
    explicit TMMComponent(wc::TComponent* owner) : wc::TComponent(owner) {}
    static const char* ClassName() { return "TMMComponent"; }

    bool IsDesigning() const noexcept { return designing_; }
    virtual void SetDesignMode(bool value);
    virtual void ApplyDesignMode(bool value);

private:
    bool designing_ = false;
};

class TMMNonVisualComponent : public TMMComponent {
public:
    using TMMComponent::TMMComponent;
    static const char* ClassName() { return "TMMNonVisualComponent"; }
};

// A worker thread running Execute once. Derived classes must call WaitFor
// (after Terminate, if their body loops) in their own destructor: the body
// must not outlive the object it runs on. The base destructor joins as well,
// as a last guard, for threads that were never started or already ended.
class TMMThreadEx {
public:
    TMMThreadEx() = default;
    virtual ~TMMThreadEx();
    TMMThreadEx(const TMMThreadEx&) = delete;
    TMMThreadEx& operator=(const TMMThreadEx&) = delete;

    // Starts the body; false when it was started before.
    bool Start();
    // Asks the body to end; the body polls Terminated().
    void Terminate() noexcept { terminated_.store(true); }
    bool Terminated() const noexcept { return terminated_.load(); }
    // Waits for the body to end and gives its return value.
    uint32_t WaitFor();
    bool Finished() const noexcept { return finished_.load(); }
    uint32_t ReturnValue() const noexcept { return returnValue_.load(); }

protected:
    virtual void Execute() = 0;
    void SetReturnValue(uint32_t value) noexcept { returnValue_.store(value); }

private:
    std::thread thread_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    std::atomic<uint32_t> returnValue_{0};
};

// A byte stream in little-endian order: WriteBuffer appends, ReadBuffer reads
// exactly the count asked for or throws (a short read leaves the position).
class TMMStream {
public:
    virtual ~TMMStream() = default;
    virtual void WriteBuffer(const void* data, size_t count) = 0;
    virtual void ReadBuffer(void* data, size_t count) = 0;

    void WriteUInt8(uint8_t value) { WriteBuffer(&value, 1); }
    void WriteUInt32(uint32_t value);
    uint8_t ReadUInt8();
    uint32_t ReadUInt32();
};

class TMMMemoryStream : public TMMStream {
public:
    TMMMemoryStream() = default;
    explicit TMMMemoryStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

    void WriteBuffer(const void* data, size_t count) override;
    void ReadBuffer(void* data, size_t count) override;

    const std::vector<uint8_t>& Bytes() const noexcept { return bytes_; }
    size_t Position() const noexcept { return position_; }
    void SetPosition(size_t position) noexcept { position_ = position; }

private:
    std::vector<uint8_t> bytes_;
    size_t position_ = 0;  // writes go here too, overwriting or appending
};

// One point of an envelope: two 32-bit values and a flag, stored as
// 4 + 4 + 1 bytes with no padding.
class TMMEnvelopePoint {
public:
    TMMEnvelopePoint() = default;
    TMMEnvelopePoint(int32_t position, int32_t value, bool selected)
        : position_(position), value_(value), selected_(selected) {}
    virtual ~TMMEnvelopePoint() = default;

    static constexpr size_t StreamSize = 4 + 4 + 1;

    virtual void WriteToStream(TMMStream& stream) const;
    virtual void ReadFromStream(TMMStream& stream);

    int32_t Position() const noexcept { return position_; }
    int32_t Value() const noexcept { return value_; }
    bool Selected() const noexcept { return selected_; }
    void SetPosition(int32_t value) noexcept { position_ = value; }
    void SetValue(int32_t value) noexcept { value_ = value; }
    void SetSelected(bool value) noexcept { selected_ = value; }

private:
    int32_t position_ = 0;
    int32_t value_ = 0;
    bool selected_ = false;
};

// The unit of positions and lengths of wave objects and wave outputs.
enum TMMTimeFormats { tfMillisecond, tfByte, tfSample };

// Device ids: the two special ones have names in layouts and editors.
using TMMDeviceId = int32_t;
inline constexpr TMMDeviceId MapperId = -1;
inline constexpr TMMDeviceId InvalidId = -2;

// The name of a special id; false for any other value.
bool DeviceIdToIdent(TMMDeviceId id, std::string& ident);
// The id of a name, in any case; false for an unknown name.
bool IdentToDeviceId(std::string_view ident, TMMDeviceId& id);
// A name for the special ids, a decimal number for the rest.
std::string DeviceIdToString(TMMDeviceId id);
// A name or a decimal number; false (id untouched) for anything else.
bool StringToDeviceId(std::string_view text, TMMDeviceId& id);

// A device id stored in a layout, by name or number; throws wc::Exception
// for another identifier, a number outside 32 bits or a value of another kind.
TMMDeviceId LayoutDeviceId(const wc::LayoutValue& value);

// The library's cursors are resources 2001..2031 of the program.
inline constexpr int MMCursorFirst = 2001;
inline constexpr int MMCursorCount = 31;
// The cursor loaded under that number, or null for numbers outside the range
// or a missing resource. The table is filled on first use.
HCURSOR MMCursor(int id);
