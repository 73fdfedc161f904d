// The wave object and the wave file chain component.
//
// TMMWave stands for one wave file: setting FileName parses it (no system
// file is held), OpenFile opens it for reading, and ReadData delivers the
// sample bytes of the play list block by block: the readable range minus the
// ranges of an optional cut list. The end of the data is marked by one block
// of 4 zero bytes; the call after it returns -1. Positions and DataSize are in
// the TimeFormat unit (samples, bytes or milliseconds), 64-bit: a wave's
// bytes and samples can pass 2^31.
//
// TMMCustomWaveFile feeds the samples of its wave into a chain as the
// chain's head, or, with an Input, writes what the chain delivers into the
// wave's file. TMMWaveFile is its published form.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "media/wave/MMAudio.h"
#include "media/playback/MMDSPObj.h"
#include "media/playback/MMObj.h"
#include "media/playback/MMObsrv.h"
#include "media/wave/MMWaveIO.h"

// Note: <windows.h> maps CreateFile to CreateFileA; the member below is
// renamed alike wherever this header is seen, so calls match.

enum TMMMode { mMono, mStereo, mMultiChannel };

// One range of sample frames; in a play list also its byte start and length.
struct TMMCutSegment {
    int64_t StartSample = 0;
    int64_t StartByte = 0;
    int64_t Samples = 0;
    int64_t Bytes = 0;
};

// A list of sample ranges, in ascending order of their starts.
class TMMCutList {
public:
    void Add(int64_t startSample, int64_t samples) { segments_.push_back({startSample, 0, samples, 0}); }
    void Add(const TMMCutSegment& segment) { segments_.push_back(segment); }
    void Clear() noexcept { segments_.clear(); }
    size_t Count() const noexcept { return segments_.size(); }
    bool Empty() const noexcept { return segments_.empty(); }
    const TMMCutSegment& operator[](size_t index) const { return segments_.at(index); }
    const std::vector<TMMCutSegment>& Segments() const noexcept { return segments_; }

private:
    std::vector<TMMCutSegment> segments_;
};

class TMMWave;
using TMMWaveProgress = std::function<void(TMMWave* sender, int32_t curByte, int32_t numBytes, bool& cancel)>;

inline constexpr int32_t DefaultWaveIOBufferSize = 32768;
// Below this the system's buffered file I/O spends more time in calls than
// in copying.
inline constexpr int32_t MinWaveIOBufferSize = 8192;

class TMMWave : public TMMObject {
public:
    TMMWave();
    ~TMMWave() override;
    static const char* ClassName() { return "TMMWave"; }

    // ---- published ----
    TMMWaveProgress OnProgress;  // fired by no operation here
    TMMTimeFormats TimeFormat() const noexcept { return timeFormat_; }
    void SetTimeFormat(TMMTimeFormats value);
    bool FileMustExist() const noexcept { return fileMustExist_; }
    void SetFileMustExist(bool value) noexcept { fileMustExist_ = value; }
    const std::string& FileName() const noexcept { return fileName_; }
    // Expands the name; parses the file unless it is the same name with the
    // same size. Throws EMMWaveError, keeping the previous file.
    virtual void SetFileName(const std::string& value);
    uint16_t BitLength() const;
    TMMMode Mode() const;
    uint16_t FormatTag() const;
    std::string FormatString() const;
    int32_t SampleRate() const;
    int64_t FileSize() const;
    // The total samples in TimeFormat units; 0 without file.
    int64_t DataSize() const;
    int32_t IOBufferSize() const noexcept { return ioBufferSize_; }
    // At least MinWaveIOBufferSize; applied to an open file (EMMWaveError).
    void SetIOBufferSize(int32_t value);

    // ---- operations ----
    virtual int32_t ReadRawBytes(void* buffer, int32_t count);
    // The file's format, or null without file.
    virtual const WAVEFORMATEX* PWaveFormat() const;
    // Value in TimeFormat units; clamped to the play list. Positions the
    // file when it is open (EMMWaveError on a failed seek).
    virtual void SetPosition(int64_t value);
    // In TimeFormat units; -1 without file.
    int64_t GetPosition() const;
    virtual int64_t SamplesToBytes(int64_t samples) const;
    virtual int64_t BytesToSamples(int64_t bytes) const;
    virtual int64_t FileToListSample(int64_t sample) const { return sample; }
    virtual int64_t ListToFileSample(int64_t sample) const { return sample; }
    virtual int64_t SamplesToTime(int64_t samples) const;
    virtual int64_t TimeToSamples(int64_t value) const;
    // The list is not owned; null removes it. Rebuilds the play list.
    virtual void SetCutList(TMMCutList* list);
    TMMCutList* CutList() const noexcept { return cutList_; }
    const TMMCutList& PlayList() const noexcept { return playList_; }
    // Binary data of memory waves: no effect for a file wave.
    virtual void ReadStream(TMMStream& stream) {}
    virtual void WriteStream(TMMStream& stream) {}
    virtual void LoadFromStream(TMMStream& stream) {}
    virtual void SaveToStream(TMMStream& stream) {}
    // Called with false when the file is opened or a chain starts, with true
    // on each positioning.
    virtual void PositionHook(bool repositioned) {}
    // Called when a chain loops or resets.
    virtual void RewindHook() {}
    // Opens the file for reading at the current position (EMMWaveError).
    virtual void OpenFile();
    // Opens the file for writing behind its last sample, so that WriteData
    // appends (EMMWaveError).
    void OpenFileForAppend();
    // Finishes (a written file) and closes the file.
    virtual void CloseFile();

    void AddObserver(TMMObserver* observer) { observers_.AddObserver(observer); }
    void RemoveObserver(TMMObserver* observer) { observers_.RemoveObserver(observer); }
    TMMObservable& Observers() noexcept { return observers_; }

    // Bytes delivered into buffer; 4 (a zero block) once at the end; -1 then,
    // without file or when not open.
    int32_t ReadData(void* buffer, int32_t count);
    // Appends to a created file; the count written, -1 without file.
    int32_t WriteData(const void* buffer, int32_t count);
    // A new file of that format (an existing one is replaced); open for
    // writing until CloseFile. Throws EMMWaveError leaving no file.
    void CreateFile(const std::string& fileName, const WAVEFORMATEX* format);
    // Takes the handle (nothing for the handle already held).
    void AttachHandle(WaveIOHandlePtr handle);
    // A file-less wave of that format.
    void CreateFromFormat(const WAVEFORMATEX* format);
    void FreeAll();
    void ClearWave();
    bool IsEmpty() const { return DataSize() == 0; }
    int64_t BytesLeft() const noexcept { return bytesLeft_; }
    int64_t PlayListSamples() const;
    int64_t PlayListBytes() const;
    int64_t PlayListTime() const;
    bool IsOpened() const noexcept { return opened_; }
    // The parsed file (its INFO and DISP lists), or null.
    WaveIOHandle* Handle() const noexcept { return handle_.get(); }

    // Copies another wave (its file, or a handle of its format), its time
    // format, range, position, buffer size and cut list; null clears. Any
    // other object: wc::Exception.
    virtual void Assign(const TMMObject* source);

    // Held back while Assign runs; otherwise tells the observers too.
    void Changed() override;

private:
    void BuildPlayList();
    void TakeHandle(WaveIOHandlePtr handle);
    void SeekFile(int64_t fileSample);

    WaveIOHandlePtr handle_;
    std::string fileName_;
    bool fileMustExist_ = true;
    int32_t ioBufferSize_ = DefaultWaveIOBufferSize;
    TMMTimeFormats timeFormat_ = tfSample;
    int64_t rangeStart_ = 0;
    int64_t rangeEnd_ = 0;
    int64_t position_ = 0;
    int64_t bytesLeft_ = 0;
    int64_t totalBytes_ = 0;
    TMMCutList* cutList_ = nullptr;
    TMMCutList playList_;
    size_t segmentIndex_ = 0;
    int64_t segmentBytesLeft_ = 0;
    bool opened_ = false;
    bool endDelivered_ = false;  // the end block went out since the last positioning
    bool updating_ = false;
    bool changePending_ = false;
    TMMObservable observers_;
};

class TMMCustomWaveFile : public TMMCustomFile {
public:
    explicit TMMCustomWaveFile(wc::TComponent* owner);
    ~TMMCustomWaveFile() override;
    static const char* ClassName() { return "TMMCustomWaveFile"; }

    TMMWave& Wave() noexcept { return *wave_; }
    const TMMWave& Wave() const noexcept { return *wave_; }
    // Assigns into the owned wave; never replaces it.
    void SetWave(const TMMWave* value) { wave_->Assign(value); }
    bool OverwriteExisting() const noexcept { return overwriteExisting_; }
    void SetOverwriteExisting(bool value) noexcept { overwriteExisting_ = value; }
    // 128 for 8-bit PCM, else 0.
    uint8_t SilenceByte() const noexcept { return silence_; }
    // Between Opened and Closed with a file open.
    bool IsFileOpen() const noexcept { return fileOpen_; }

    // Fired on the main thread, also when the chain runs a library worker.
    wc::TNotifyEvent OnOpen;
    wc::TNotifyEvent OnClose;
    wc::TNotifyEvent OnLooping;

    // ---- chain ----
    void SetPWaveFormat(const WAVEFORMATEX* format) override;
    void Opened() override;
    void Started() override;
    void Stopped() override;
    // A chain that loops or resets: the wave's RewindHook.
    void Rewound() override;
    void Closed() override;
    void BufferReady(WaveHdrEx* header) override;
    void BufferLoad(WaveHdrEx* header, bool& moreBuffers) override;

    // ---- reader ----
    uint32_t FileKind() const override { return FileKindWave; }
    // False at once for an extension other than .wav; else IsWaveFile.
    bool CanRead(const std::string& fileName) override;
    bool GetFileInfo(const std::string& fileName, TMMFileInfo& info) override;
    std::string GetFilterText() const override;
    std::string GetFileMask() const override { return "*.wav"; }
    int32_t GetBlockSize() const override;
    bool IsEmpty() const override { return wave_->IsEmpty(); }
    int32_t Time() const override;
    std::string FileName() const override { return wave_->FileName(); }
    void SetFileName(const std::string& value) override { wave_->SetFileName(value); }
    int64_t Position() const override { return wave_->GetPosition(); }
    void SetPosition(int64_t value) override { wave_->SetPosition(value); }
    int32_t PositionMs() const override;
    void SetPositionMs(int32_t value) override;

    bool SetProperty(const std::string& name, const wc::LayoutValue& value) override;

private:
    // The wave changed: OnChange, the wave's format into the chain, OnChanged.
    void WaveChanged();
    void Fire(const wc::TNotifyEvent& event);
    void CloseForDiskSpace();

    std::unique_ptr<TMMWave> wave_;
    std::unique_ptr<TMMObserver> observer_;
    bool fileOpen_ = false;
    bool fileStarted_ = false;
    uint8_t silence_ = 0;
    bool overwriteExisting_ = true;
    int64_t openPosition_ = 0;
};

class TMMWaveFile : public TMMCustomWaveFile {
public:
    using TMMCustomWaveFile::TMMCustomWaveFile;
    static const char* ClassName() { return "TMMWaveFile"; }
    bool PublishesInput() const override { return true; }
    bool PublishesOutput() const override { return true; }
};
