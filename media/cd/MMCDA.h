// The reader of the platform's ".cda" track files: a name such as
// "D:\Track05.cda" stands for track 5 of the disc in drive D. The file itself
// is never opened: the drive letter and the track number come from the name,
// and the track plays through the reader's own TMMCDReader, whose output is
// this component.
//
// Threads: the public operations run on the user-interface thread; a chain
// in thread mode pulls the data (through the TMMCDReader) on its worker, and
// AbortRead may come from the user-interface thread meanwhile (see MMCDRead.h).
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "media/wave/MMAudio.h"
#include "media/cd/MMCDRead.h"

inline constexpr int32_t CDABlockSize = CDRawSectorSize;
// Where the settings of each drive are kept (current user), followed by
// "\Devices\" and the drive's name.
inline constexpr const char* CDASettingsKey = "Software\\Quillmark\\CDAFile";

class TMMCDAFile : public TMMCustomFile {
public:
    explicit TMMCDAFile(wc::TComponent* owner);
    ~TMMCDAFile() override;
    static const char* ClassName() { return "TMMCDAFile"; }

    TMMCDReader& Reader() noexcept { return *reader_; }
    const TMMCDReader& Reader() const noexcept { return *reader_; }
    // The track of the disc (0 = the first), -1 when none.
    int TrackIndex() const noexcept { return trackIndex_; }

    // ---- published, in order ----
    // OnChange (TMMCustomFile's), Output, FileName, Enabled.

    // ---- track file names ----
    // Whether the upper-cased name contains ".CDA".
    static bool IsTrackFileName(const std::string& fileName);
    // The track index a name stands for ("Track05.cda", "Track5.cda": 4), -1 when none.
    static int TrackIndexOf(const std::string& fileName);

    // ---- reader ----
    uint32_t FileKind() const override { return FileKindCDTrack; }
    bool CanRead(const std::string& fileName) override { return IsTrackFileName(fileName); }
    bool GetFileInfo(const std::string& fileName, TMMFileInfo& info) override;
    std::string GetFilterText() const override { return "Digital Audio File (*.cda)|*.cda"; }
    std::string GetFileMask() const override { return "*.cda"; }
    int32_t GetBlockSize() const override { return CDABlockSize; }
    bool IsEmpty() const override { return fileName_.empty(); }
    // The track's length in milliseconds; 0 when empty.
    int32_t Time() const override;
    std::string FileName() const override { return fileName_; }
    // Closes the previous track and opens this one (locking the medium);
    // EMMAudioError for a name that is no track file or a track that cannot be had.
    void SetFileName(const std::string& value) override;
    void SetEnabled(bool value) override;
    // Both in milliseconds from the start of the track.
    int64_t Position() const override { return PositionMs(); }
    // Milliseconds: a disc holds far fewer than 2^31 of them.
    void SetPosition(int64_t value) override { SetPositionMs(int32_t(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX))); }
    int32_t PositionMs() const override;
    void SetPositionMs(int32_t value) override;
    // Title, performer and disc title from the first CD-Text block, else
    // "Track nn"; false when the drive failed meanwhile.
    bool ReadTag(MpegTagInfo& tag) override;
    void AbortRead() override;

    bool PublishesOutput() const override { return true; }
    bool SetProperty(const std::string& name, const wc::LayoutValue& value) override;

private:
    void CloseTrack();
    void ApplyDeviceSettings();

    std::unique_ptr<TMMCDReader> reader_;
    std::string fileName_;
    int trackIndex_ = -1;
    bool opened_ = false;
};
