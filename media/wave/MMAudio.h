// The common base of the audio file readers: chain components that turn a
// file into a stream of samples and can say whether they read a given file.
// Also the registry of streamable record classes (load and store routines by
// class name).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "media/playback/MMDSPObj.h"
#include "media/playback/MMObj.h"
#include "media/wave/MMAudioTypes.h"

// File kinds a reader answers with FileKind and writes into the file info.
inline constexpr uint32_t FileKindNone = 0;
inline constexpr uint32_t FileKindWave = 1;
inline constexpr uint32_t FileKindMpeg = 2;
inline constexpr uint32_t FileKindCDTrack = 5;

// The tag texts of an audio file (title first); empty for a wave file but
// its title.
struct TMMFileTag {
    std::string Title;
    std::string Artist;
    std::string Album;
    std::string Year;
    std::string Comment;
    uint32_t Track = 0;
    uint32_t Genre = 0;
};

// What GetFileInfo tells about a file.
struct TMMFileInfo {
    uint32_t Kind = FileKindNone;
    uint32_t LengthMs = 0;
    uint32_t Info[4] = {0, 0, 0, 0};  // reader-specific numbers; 0 for wave files
    TMMFileTag Tag;
};

// The tag texts of a file info record from a reader's tag record.
TMMFileTag FileTagOf(const MpegTagInfo& tag);

class TMMCustomFile : public TMMDSPComponent {
public:
    explicit TMMCustomFile(wc::TComponent* owner) : TMMDSPComponent(owner) {}
    static const char* ClassName() { return "TMMCustomFile"; }

    // The kind of files the class reads; 0: none.
    virtual uint32_t FileKind() const { return FileKindNone; }
    virtual bool CanRead(const std::string& fileName) { return false; }
    virtual bool GetFileInfo(const std::string& fileName, TMMFileInfo& info) { return false; }
    // For a dialog filter: "Description|*.ext" and "*.ext".
    virtual std::string GetFilterText() const { return {}; }
    virtual std::string GetFileMask() const { return {}; }

    virtual int32_t GetBlockSize() const = 0;
    // Only readers of formats with a trailing header implement these (its
    // size in bytes); the base raises "Abstract Error".
    virtual uint32_t TrailingHeader() const;
    virtual void SetTrailingHeader(uint32_t value);
    virtual bool IsEmpty() const = 0;
    // Length in milliseconds.
    virtual int32_t Time() const = 0;
    virtual std::string FileName() const = 0;
    virtual void SetFileName(const std::string& value) = 0;
    virtual bool Enabled() const { return enabled_; }
    virtual void SetEnabled(bool value) { enabled_ = value; }
    // The play position in the reader's time format, and in milliseconds.
    virtual int64_t Position() const = 0;
    virtual void SetPosition(int64_t value) = 0;
    virtual int32_t PositionMs() const = 0;
    virtual void SetPositionMs(int32_t value) = 0;
    // Writer of the read-only numbers below (so they show in layouts): ignored.
    virtual void SetReadOnlyNumber(int32_t value) {}
    virtual int32_t SampleRate() const;
    virtual int32_t Channels() const;
    virtual int32_t BitRate() const { return 0; }
    virtual void Hook() {}
    // Readers of tagged, encrypted or scanned files (MPEG, CD tracks)
    // implement these; the base raises "Abstract Error".
    virtual bool ReadTag(MpegTagInfo& tag);
    virtual void SetDecryptCallback(TMpegDecryptProc callback, uint32_t user);
    virtual void SetDecryptMode(uint8_t mode);
    virtual void ScanFile(uint8_t writeScanFile, uint32_t value1, uint32_t value2);
    virtual void ScanFileEx(uint32_t value1, uint32_t value2);
    virtual void EncryptFile(const std::string& fileName, uint32_t value1, uint32_t value2, uint32_t value3);
    virtual void AbortRead();

    // Fires OnChange, then OnChanged.
    virtual void Change();

    bool SetProperty(const std::string& name, const wc::LayoutValue& value) override;

    wc::TNotifyEvent OnChange;
    wc::TNotifyEvent OnChanged;

private:
    bool enabled_ = true;
};

// ---- streamable records ----

// Routines that load an object of a class from a stream and store it.
struct TStreamableRec {
    std::string ClassName;
    std::function<void(TMMStream& stream, void* object)> Load;
    std::function<void(TMMStream& stream, const void* object)> Store;
};

// Registers a class; a name already registered is ignored.
void RegisterStreamable(TStreamableRec rec);
// The record of a class, or null.
const TStreamableRec* FindStreamable(std::string_view className);
// The registered class names, sorted.
std::vector<std::string> StreamableClassNames();
// Frees the list and its entries.
void FreeStreamables();
