// A platform for the CD-ROM layer that no machine here has: SCSI ports,
// CD-ROM drives by letter, the registry's device keys and the MCI CD audio
// device, all scripted by the test; every call is recorded.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "framework/Handles.h"
#include "media/cd/MMSPTI.h"

class FakePlatform : public CDPlatform {
public:
    FakePlatform();
    ~FakePlatform() override;

    struct IoCall {
        HANDLE device;
        DWORD code;
        std::vector<uint8_t> in;
        DWORD outSize;
        bool overlapped;
    };
    // Answers one control call: fills `out`, sets `error` for a failure.
    using IoHandler = std::function<BOOL(const IoCall& call, void* in, void* out, DWORD& returned, DWORD& error)>;

    bool nt = true;
    bool passThrough = true;
    // Library name -> the entry points it has.
    std::map<std::string, std::vector<std::string>> libraries;
    std::vector<std::pair<std::string, UINT>> loads;  // name, error mode while loading
    std::vector<std::string> procsAsked;
    std::vector<std::string> freed;
    UINT errorMode = 0;

    // Device name -> the number of failing opens before one succeeds (-1: never).
    std::map<std::string, int> devices;
    std::vector<std::pair<std::string, DWORD>> opens;  // name, access
    std::map<HANDLE, std::string> handleNames;  // the device each handle was opened for
    std::map<DWORD, IoHandler> handlers;
    std::vector<IoCall> ioCalls;
    bool pendingOverlapped = false;  // overlapped calls answer ERROR_IO_PENDING first
    // When set, a pending call's completion waits for this event (at most 10 s)
    // and signals `completed` once it has its result.
    HANDLE completionGate = nullptr;
    HANDLE completed = nullptr;
    // Runs when a pending call completes, as the system writes the data then;
    // a cancelled call completes aborted without it.
    std::function<void()> lateWrite;
    int cancels = 0;
    // Set (manual reset) when a thread's synchronous call is cancelled; a
    // handler that blocks ends its wait on it.
    wc::KernelHandle threadCancelled{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};

    DWORD logicalDrives = 0;
    std::map<char, UINT> driveTypes;
    std::map<std::string, std::string> dosDevices;  // "D:" -> target; "" -> the list of all names

    std::map<std::string, std::vector<uint8_t>> binaryValues;  // key + "|" + value
    std::map<std::string, std::string> stringValues;
    std::map<std::string, std::vector<std::string>> subkeys;

    std::map<std::string, std::string> mciAnswers;  // command -> answer
    std::map<std::string, DWORD> mciErrors;         // command -> error
    std::vector<std::string> mciCommands;

    bool IsNTFamily() override { return nt; }
    bool PassThroughCapable() override { return passThrough; }
    UINT ErrorMode(UINT mode) override;
    HMODULE LoadLib(const char* name) override;
    FARPROC GetProc(HMODULE module, const char* name) override;
    void FreeLib(HMODULE module) override;
    HANDLE OpenDevice(const char* name, DWORD access, DWORD share, DWORD flags) override;
    BOOL IoControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned,
                   OVERLAPPED* overlapped) override;
    BOOL OverlappedResult(HANDLE device, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait) override;
    BOOL CancelRequest(HANDLE device, OVERLAPPED* overlapped) override;
    BOOL CancelThreadRequest(HANDLE thread) override;
    DWORD LastError() override { return lastError_; }
    DWORD LogicalDrives() override { return logicalDrives; }
    UINT DriveType(const char* root) override;
    DWORD DosDevice(const char* name, char* target, DWORD size) override;
    bool RegReadBinary(HKEY root, const std::string& key, const std::string& value,
                       std::vector<uint8_t>& data) override;
    bool RegReadString(HKEY root, const std::string& key, const std::string& value, std::string& text) override;
    bool RegEnumKey(HKEY root, const std::string& key, DWORD index, std::string& name) override;
    DWORD MciSendString(const std::string& command, std::string& answer) override;
    DWORD TickCount() override { return 4242; }

    // The entry points a fake library hands out forward to these.
    std::function<DWORD(void*)> send;
    std::function<DWORD()> supportInfo;

private:
    std::vector<HMODULE> modules_;
    std::vector<std::string> moduleNames_;
    DWORD lastError_ = 0;
    BOOL pendingResult_ = TRUE;
    DWORD pendingError_ = 0;
    wc::KernelHandle cancelled_{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
};
