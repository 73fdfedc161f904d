// The platform calls of the CD-ROM layer behind one interface, and ASPI
// emulated over the platform's SCSI pass-through.
//
// The product uses CDSystemPlatform, which makes the real calls; tests put a
// fake in its place with CDSetPlatform (MMASPI.h; it also forgets the
// process-wide state: the bound ASPI manager and the pass-through device list).
//
// Threads: the pass-through scan and the emulated requests run on the
// caller's thread; every request is sent overlapped (the ports are opened for
// overlapped I/O), and one that is still pending is finished by a short-lived
// thread of its own, which fills the request's status and signals its event.
// An abort cancels the pending request and waits (bounded) until that thread
// has let go of it, so the system writes nothing into the caller's buffer
// once the abort has returned. The pass-through device list and the pending
// requests are guarded by one process-wide critical section; a port handle
// reopened after error 1110 or 6 is swapped under it, for the unit it matched.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class CDPlatform {
public:
    virtual ~CDPlatform() = default;
    // Operating system classes.
    virtual bool IsNTFamily() = 0;
    virtual bool PassThroughCapable() = 0;  // NT 4, 2000, XP and later

    virtual UINT ErrorMode(UINT mode) = 0;
    virtual HMODULE LoadLib(const char* name) = 0;
    virtual FARPROC GetProc(HMODULE module, const char* name) = 0;
    virtual void FreeLib(HMODULE module) = 0;

    // Handles returned must be real kernel handles (closed with CloseHandle).
    virtual HANDLE OpenDevice(const char* name, DWORD access, DWORD share, DWORD flags) = 0;
    virtual BOOL IoControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                                 DWORD* returned, OVERLAPPED* overlapped) = 0;
    virtual BOOL OverlappedResult(HANDLE device, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait) = 0;
    // Asks the system to end an overlapped request early (it then completes as aborted).
    virtual BOOL CancelRequest(HANDLE device, OVERLAPPED* overlapped) = 0;
    // Asks the system to end a synchronous device call that `thread` is inside.
    virtual BOOL CancelThreadRequest(HANDLE thread) = 0;
    virtual DWORD LastError() = 0;

    virtual DWORD LogicalDrives() = 0;
    virtual UINT DriveType(const char* root) = 0;
    virtual DWORD DosDevice(const char* name, char* target, DWORD size) = 0;

    // Registry reads; false when the key or value is missing or of another type.
    virtual bool RegReadBinary(HKEY root, const std::string& key, const std::string& value,
                               std::vector<uint8_t>& data) = 0;
    virtual bool RegReadString(HKEY root, const std::string& key, const std::string& value, std::string& text) = 0;
    virtual bool RegEnumKey(HKEY root, const std::string& key, DWORD index, std::string& name) = 0;

    virtual DWORD MciSendString(const std::string& command, std::string& answer) = 0;
    virtual DWORD TickCount() = 0;
};

class CDSystemPlatform : public CDPlatform {
public:
    bool IsNTFamily() override;
    bool PassThroughCapable() override;
    UINT ErrorMode(UINT mode) override;
    HMODULE LoadLib(const char* name) override;
    FARPROC GetProc(HMODULE module, const char* name) override;
    void FreeLib(HMODULE module) override;
    HANDLE OpenDevice(const char* name, DWORD access, DWORD share, DWORD flags) override;
    BOOL IoControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                         DWORD* returned, OVERLAPPED* overlapped) override;
    BOOL OverlappedResult(HANDLE device, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait) override;
    BOOL CancelRequest(HANDLE device, OVERLAPPED* overlapped) override;
    BOOL CancelThreadRequest(HANDLE thread) override;
    DWORD LastError() override;
    DWORD LogicalDrives() override;
    UINT DriveType(const char* root) override;
    DWORD DosDevice(const char* name, char* target, DWORD size) override;
    bool RegReadBinary(HKEY root, const std::string& key, const std::string& value,
                       std::vector<uint8_t>& data) override;
    bool RegReadString(HKEY root, const std::string& key, const std::string& value, std::string& text) override;
    bool RegEnumKey(HKEY root, const std::string& key, DWORD index, std::string& name) override;
    DWORD MciSendString(const std::string& command, std::string& answer) override;
    DWORD TickCount() override;
};

// The platform in use; the system's unless a test set another.
CDPlatform& CDCurrentPlatform();
// Replaces the platform (nullptr: the system's again) and forgets the
// pass-through state. CDSetPlatform (MMASPI.h) calls it and forgets the
// bound ASPI manager too. Not while a device context lives.
void SPTISetPlatform(CDPlatform* platform);
bool CDUsingSystemPlatform();

// ---- pass-through ----

// One unit found by the pass-through scan.
struct SPTIDevice {
    uint8_t port = 0, path = 0, target = 0, lun = 0, deviceType = 0;
    HANDLE portHandle = nullptr;  // owned by the scan's list
};

// Runs the scan once per process (ports "\\.\SCSI0:", "\\.\SCSI1:" ... until
// an open fails); answers the number of ports opened.
int SPTIAdapterCount();
std::vector<SPTIDevice> SPTIDevices();

// The emulated ASPI manager's entry points.
DWORD __cdecl SPTIGetASPI32SupportInfo();
DWORD __cdecl SPTISendASPI32Command(void* srb);

// Forgets the scan (closing the port handles).
void SPTIReset();
