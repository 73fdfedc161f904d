// MPEG audio files through the decoder library MMMPEG32.DLL.
//
// The library is bound at run time, once per process, on first need
// (MpegLibraryAvailable); a missing library or one older than version 25 is
// reported in a message box and later attempts try again. TMMMpeg owns one
// decoder instance and turns the library's file information into properties
// and a 16-bit PCM format; TMMMPEGFile is the file reader that feeds the
// decoded PCM into a processing chain as its head.
//
// Threads: the public operations run on the user-interface thread; a chain
// in thread mode runs BufferLoad (and so TMMMpeg::Read) on its worker, while
// the user-interface thread may call AbortRead, which the library accepts
// from any thread.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "media/wave/MMAudio.h"
#include "media/mpeg/MMMPType.h"
#include "media/playback/MMObj.h"
#include "media/playback/MMObsrv.h"
#include "media/wave/MMWaveIO.h"

inline constexpr const char* MpegLibraryName = "MMMPEG32.DLL";
inline constexpr int32_t MpegRequiredVersion = 25;

// The entry points of the library, bound by name (stdcall).
struct MpegEntryPoints {
    using Handle = void*;
    using NotifyProc = void(WINAPI*)(int32_t value, void* user);
    int32_t(WINAPI* mpeg_Version)() = nullptr;
    Handle(WINAPI* mpeg_Init)(int32_t* status, NotifyProc notify, void* user) = nullptr;
    void(WINAPI* mpeg_Done)(Handle* handle) = nullptr;
    int32_t(WINAPI* mpeg_SetDecryptCallback)(Handle, TMpegDecryptProc, uint32_t) = nullptr;
    int32_t(WINAPI* mpeg_SetDecryptMode)(Handle, uint8_t) = nullptr;
    int32_t(WINAPI* mpeg_Clear)(Handle) = nullptr;
    int32_t(WINAPI* mpeg_SetTrailingHeader)(Handle, uint32_t) = nullptr;
    int32_t(WINAPI* mpeg_SetExactPosition)(Handle, BOOL) = nullptr;
    int32_t(WINAPI* mpeg_SetFileName)(Handle, const char*) = nullptr;
    int32_t(WINAPI* mpeg_SetFileNameW)(Handle, const wchar_t*) = nullptr;  // optional: newer libraries
    int32_t(WINAPI* mpeg_GetFileName)(Handle, char*, int32_t) = nullptr;
    BOOL(WINAPI* mpeg_GetEmpty)(Handle) = nullptr;
    int32_t(WINAPI* mpeg_GetFileInfo)(Handle, MpegFileInfo*) = nullptr;
    int32_t(WINAPI* mpeg_SetChannelMode)(Handle, int32_t) = nullptr;
    int32_t(WINAPI* mpeg_GetChannelMode)(Handle, uint8_t*) = nullptr;
    int32_t(WINAPI* mpeg_SetPosition)(Handle, int32_t) = nullptr;
    int32_t(WINAPI* mpeg_GetPosition)(Handle) = nullptr;
    int32_t(WINAPI* mpeg_OpenFile)(Handle) = nullptr;
    int32_t(WINAPI* mpeg_CloseFile)(Handle) = nullptr;
    int32_t(WINAPI* mpeg_ResetFile)(Handle) = nullptr;
    int32_t(WINAPI* mpeg_ReadDataBytes)(Handle, void*, int32_t) = nullptr;
    int32_t(WINAPI* mpeg_AbortReadData)(Handle) = nullptr;
    BOOL(WINAPI* mpeg_GetDone)(Handle) = nullptr;
    int32_t(WINAPI* mpeg_ScanFile)(Handle, uint8_t, uint32_t, uint32_t) = nullptr;
    int32_t(WINAPI* mpeg_ScanFileEx)(Handle, uint32_t, uint32_t) = nullptr;
    int32_t(WINAPI* mpeg_EncryptFile)(Handle, const char*, uint32_t, uint32_t, uint32_t) = nullptr;
    BOOL(WINAPI* mpeg_ReadID3Tag)(Handle, uint8_t*) = nullptr;
    int32_t(WINAPI* mpeg_GetErrorText)(int32_t, char*, int32_t) = nullptr;
    // Bound but not called.
    int32_t(WINAPI* mpeg_SetFileOffset)(Handle, uint32_t) = nullptr;
    int32_t(WINAPI* mpeg_ReadDataBytesEx)(Handle, void*, int32_t, int32_t*) = nullptr;
};

// Binds the library on first need; false (after a message box) when it is
// missing or too old. Later calls after a failure try again.
bool MpegLibraryAvailable();
// The bound table; valid while MpegLibraryAvailable() holds.
const MpegEntryPoints& MpegLibrary();
// Binds the library of that name instead (a test's stand-in); frees a
// library bound before. The same rules and message boxes as the default.
bool BindMpegLibrary(const char* libraryName);
// Frees the library (also done at process exit).
void FreeMpegLibrary();

// The library's text for a status; empty when it has none.
std::string MpegErrorText(int32_t status);

class TMMMpeg : public TMMObject {
public:
    // EMMMpegError when the library is unavailable or refuses an instance.
    TMMMpeg();
    ~TMMMpeg() override;
    static const char* ClassName() { return "TMMMpeg"; }

    // ---- published, in order ----
    // OnChange: TMMObject's.
    uint32_t TrailingHeader() const noexcept { return trailingHeader_; }
    void SetTrailingHeader(uint32_t value);
    std::string FileName() const;
    void SetFileName(const std::string& value);
    TMpegVersion Version() const;
    void SetVersion(TMpegVersion) {}
    int32_t Layer() const;
    void SetLayer(int32_t) {}
    TSampleMode Mode() const;
    void SetMode(TSampleMode) {}
    int32_t BitRate() const;
    void SetBitRate(int32_t) {}
    int32_t SampleRate() const;
    int32_t Frames() const;
    int32_t Time() const;
    TChannelMode ChannelMode() const;
    // EMMMpegError (28060) while the file is open.
    void SetChannelMode(TChannelMode value);
    bool Exactposition() const noexcept { return exactPosition_; }
    void SetExactposition(bool value);

    // ---- operations ----
    // The 16-bit PCM format of the decoded output; null while empty.
    const WAVEFORMATEX* PWaveFormat() const { return IsEmpty() ? nullptr : format_.get(); }
    // Decoded bytes of one frame, a multiple of 4; 0 while empty.
    int32_t BytesPerFrame() const;
    const MpegFileInfo& Info() const noexcept { return info_; }
    bool IsOpened() const noexcept { return opened_; }
    void Open();
    void Close();
    void Reset();
    // Bytes of PCM written; 0 when not open.
    int32_t Read(void* buffer, int32_t count);
    void AbortRead();
    int32_t Position() const;
    // Seeks to a frame; when open, from two frames before it.
    void SetPosition(int32_t frame);
    int32_t PositionMs() const;
    void SetPositionMs(int32_t ms);
    void Scan(uint8_t writeScanFile, uint32_t value1, uint32_t value2);
    void ScanEx(uint32_t value1, uint32_t value2);
    void Encrypt(const std::string& fileName, uint32_t value1, uint32_t value2, uint32_t value3);
    void SetDecryptCallback(TMpegDecryptProc callback, uint32_t user);
    void SetDecryptMode(uint8_t mode);
    // False when the file has no ID3 version 1 tag.
    bool ReadTag(MpegTagInfo& tag);
    bool IsEmpty() const;
    bool EndReached() const;
    // From another TMMMpeg or nothing; anything else: wc::Exception.
    void Assign(const TMMObject* source);

    // Reads the information again, rebuilds the format, tells observers.
    void Change();

    TMMObservable& Observers() noexcept { return observers_; }
    void* Instance() const noexcept { return instance_; }

private:
    static void WINAPI LibraryNotify(int32_t value, void* user);
    // Raises EMMMpegError with the library's text for a non-zero status
    // (or a failure the notification callback caught meanwhile).
    void Check(int32_t status, const std::string& suffix = {});
    void RethrowPending();
    void RebuildFormat();

    void* instance_ = nullptr;
    uint32_t trailingHeader_ = 0;
    bool exactPosition_ = false;
    bool opened_ = false;
    MpegFileInfo info_{};
    WaveFormatBuffer format_;
    TMMObservable observers_;
    std::exception_ptr pending_;
};

// Sender and a by-reference Handled flag.
using TMMErrorEvent = std::function<void(wc::TComponent* sender, bool& handled)>;

// The scratch buffer of a seek's pre-roll: one frame of the largest kind
// (1152 stereo samples of 16 bits is 4608 bytes) twice over.
inline constexpr int32_t MpegSeekScratchBytes = 9216;
inline constexpr int32_t MpegSeekMaxReads = 10;
// Frames a seek on an open file starts early so the decoder settles.
inline constexpr int32_t MpegSeekPreRoll = 2;

class TMMMPEGFile : public TMMCustomFile {
public:
    explicit TMMMPEGFile(wc::TComponent* owner);
    ~TMMMPEGFile() override;
    static const char* ClassName() { return "TMMMPEGFile"; }

    TMMMpeg& Mpeg() noexcept { return *mpeg_; }
    const TMMMpeg& Mpeg() const noexcept { return *mpeg_; }

    // ---- published, in order ----
    // OnChange (TMMCustomFile's), OnError, Output, FileName, Enabled,
    // BitRate, SampleRate, Channels, TrailingHeader, Version, Layer, Mode,
    // PlayBackRate, Frames, Time, ChannelMode, Exactposition.
    TMMErrorEvent OnError;
    TMpegVersion Version() const { return mpeg_->Version(); }
    int32_t Layer() const { return mpeg_->Layer(); }
    TSampleMode Mode() const { return mpeg_->Mode(); }
    // Samples per second of the output.
    int32_t PlayBackRate() const { return mpeg_->SampleRate(); }
    int32_t Frames() const { return mpeg_->Frames(); }
    TChannelMode ChannelMode() const { return mpeg_->ChannelMode(); }
    // Refused while open (EMMMpegError); the new format goes downstream.
    void SetChannelMode(TChannelMode value);
    bool Exactposition() const { return mpeg_->Exactposition(); }
    void SetExactposition(bool value) { mpeg_->SetExactposition(value); }

    // ---- class level ----
    // Whether the file is an MPEG file (or a WAVE file holding MPEG audio).
    static bool CanReadFile(const std::string& fileName, TMpegDecryptProc callback = nullptr, uint32_t user = 0,
                            uint8_t mode = 0);
    // The file info record; `scan` fills in the bit rate of a variable-rate
    // file (writing its ".scn" file) unless a ".scn" file exists.
    static bool GetMpegFileInfo(const std::string& fileName, TMMFileInfo& info, bool scan,
                                TMpegDecryptProc callback = nullptr, uint32_t user = 0, uint8_t mode = 0);

    // ---- reader ----
    uint32_t FileKind() const override { return FileKindMpeg; }
    bool CanRead(const std::string& fileName) override;
    bool GetFileInfo(const std::string& fileName, TMMFileInfo& info) override;
    std::string GetFilterText() const override;
    std::string GetFileMask() const override;
    int32_t GetBlockSize() const override { return mpeg_->BytesPerFrame(); }
    uint32_t TrailingHeader() const override { return mpeg_->TrailingHeader(); }
    void SetTrailingHeader(uint32_t value) override { mpeg_->SetTrailingHeader(value); }
    bool IsEmpty() const override { return mpeg_->IsEmpty(); }
    int32_t Time() const override { return mpeg_->Time(); }
    std::string FileName() const override { return mpeg_->FileName(); }
    void SetFileName(const std::string& value) override { mpeg_->SetFileName(value); }
    // In frames.
    int64_t Position() const override { return mpeg_->Position(); }
    // Frames: beyond the library's 32-bit count is the end.
    void SetPosition(int64_t value) override;
    int32_t PositionMs() const override { return mpeg_->PositionMs(); }
    void SetPositionMs(int32_t value) override;
    int32_t SampleRate() const override { return mpeg_->SampleRate(); }
    int32_t BitRate() const override { return mpeg_->BitRate(); }
    bool ReadTag(MpegTagInfo& tag) override { return mpeg_->ReadTag(tag); }
    void SetDecryptCallback(TMpegDecryptProc callback, uint32_t user) override;
    void SetDecryptMode(uint8_t mode) override;
    void ScanFile(uint8_t writeScanFile, uint32_t value1, uint32_t value2) override;
    void ScanFileEx(uint32_t value1, uint32_t value2) override;
    void EncryptFile(const std::string& fileName, uint32_t value1, uint32_t value2, uint32_t value3) override;
    void AbortRead() override { mpeg_->AbortRead(); }

    // ---- chain ----
    void Opened() override;
    void Started() override;
    void Stopped() override;
    void Closed() override;
    void BufferLoad(WaveHdrEx* header, bool& moreBuffers) override;

    bool PublishesOutput() const override { return true; }
    bool SetProperty(const std::string& name, const wc::LayoutValue& value) override;

private:
    void MpegChanged();

    std::unique_ptr<TMMMpeg> mpeg_;
    std::unique_ptr<TMMObserver> observer_;
    TMpegDecryptProc decrypt_ = nullptr;
    uint32_t decryptUser_ = 0;
    uint8_t decryptMode_ = 0;
    bool fileOpened_ = false;
    bool fileStarted_ = false;
    int32_t savedPosition_ = 0;
};
