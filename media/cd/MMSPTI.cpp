// Threads: see the header. State().lock guards scanned, adapters, devices,
// ports and the pending requests with their `detached` flags; the platform
// pointer is set only while no device context lives.
#include "media/cd/MMSPTI.h"

#include <mmsystem.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "framework/Handles.h"
#include "media/cd/MMASPI.h"
#include "media/cd/MMDDK.h"
#include "media/cd/MMSCSI.h"

// ---- the system's calls ----

bool CDSystemPlatform::IsNTFamily() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!::GetVersionExA(&info)) return false;
#pragma GCC diagnostic pop
    return info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

bool CDSystemPlatform::PassThroughCapable() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!::GetVersionExA(&info)) return false;
#pragma GCC diagnostic pop
    return info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion >= 4;
}

UINT CDSystemPlatform::ErrorMode(UINT mode) { return ::SetErrorMode(mode); }
HMODULE CDSystemPlatform::LoadLib(const char* name) { return ::LoadLibraryA(name); }
FARPROC CDSystemPlatform::GetProc(HMODULE module, const char* name) { return ::GetProcAddress(module, name); }
void CDSystemPlatform::FreeLib(HMODULE module) { ::FreeLibrary(module); }
HANDLE CDSystemPlatform::OpenDevice(const char* name, DWORD access, DWORD share, DWORD flags) {
    return ::CreateFileA(name, access, share, nullptr, OPEN_EXISTING, flags, nullptr);
}
BOOL CDSystemPlatform::IoControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                                 DWORD* returned, OVERLAPPED* overlapped) {
    return ::DeviceIoControl(device, code, in, inSize, out, outSize, returned, overlapped);
}
BOOL CDSystemPlatform::OverlappedResult(HANDLE device, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait) {
    return ::GetOverlappedResult(device, overlapped, transferred, wait);
}
BOOL CDSystemPlatform::CancelRequest(HANDLE device, OVERLAPPED* overlapped) { return ::CancelIoEx(device, overlapped); }
BOOL CDSystemPlatform::CancelThreadRequest(HANDLE thread) { return ::CancelSynchronousIo(thread); }
DWORD CDSystemPlatform::LastError() { return ::GetLastError(); }
DWORD CDSystemPlatform::LogicalDrives() { return ::GetLogicalDrives(); }
UINT CDSystemPlatform::DriveType(const char* root) { return ::GetDriveTypeA(root); }
DWORD CDSystemPlatform::DosDevice(const char* name, char* target, DWORD size) {
    return ::QueryDosDeviceA(name, target, size);
}

bool CDSystemPlatform::RegReadBinary(HKEY root, const std::string& key, const std::string& value,
                                     std::vector<uint8_t>& data) {
    wc::RegistryKeyHandle handle;
    if (::RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, handle.put()) != ERROR_SUCCESS) return false;
    DWORD type = 0, size = 0;
    if (::RegQueryValueExA(handle.get(), value.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_BINARY)
        return false;
    data.assign(size, 0);
    if (::RegQueryValueExA(handle.get(), value.c_str(), nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
        return false;
    data.resize(size);
    return true;
}

bool CDSystemPlatform::RegReadString(HKEY root, const std::string& key, const std::string& value,
                                     std::string& text) {
    wc::RegistryKeyHandle handle;
    if (::RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, handle.put()) != ERROR_SUCCESS) return false;
    DWORD type = 0, size = 0;
    if (::RegQueryValueExA(handle.get(), value.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    std::vector<char> buffer(size + 1, 0);
    if (::RegQueryValueExA(handle.get(), value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                           &size) != ERROR_SUCCESS)
        return false;
    text.assign(buffer.data());
    return true;
}

bool CDSystemPlatform::RegEnumKey(HKEY root, const std::string& key, DWORD index, std::string& name) {
    wc::RegistryKeyHandle handle;
    if (::RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, handle.put()) != ERROR_SUCCESS) return false;
    char buffer[MAX_PATH + 1] = {};
    if (::RegEnumKeyA(handle.get(), index, buffer, sizeof(buffer)) != ERROR_SUCCESS) return false;
    name = buffer;
    return true;
}

DWORD CDSystemPlatform::MciSendString(const std::string& command, std::string& answer) {
    char buffer[256] = {};
    DWORD result = ::mciSendStringA(command.c_str(), buffer, sizeof(buffer), nullptr);
    answer = buffer;
    return result;
}

DWORD CDSystemPlatform::TickCount() { return ::GetTickCount(); }

// ---- process-wide state ----

namespace {

CDSystemPlatform gSystemPlatform;
CDPlatform* gPlatform = &gSystemPlatform;

struct PendingPassThrough;

struct SPTIState {
    wc::CriticalSection lock;
    bool scanned = false;
    int adapters = 0;
    std::vector<SPTIDevice> devices;
    std::vector<wc::FileHandle> ports;  // owners of the port handles
    std::vector<PendingPassThrough*> pending;  // owned by their completion threads
};
SPTIState& State() {
    static SPTIState state;
    return state;
}

// The buffer IOCTL_SCSI_GET_INQUIRY_DATA fills.
constexpr DWORD kInquiryDataBufferSize = 2048;
// A pass-through request that does not finish in this time fails.
constexpr uint32_t kPassThroughTimeoutSeconds = 5;
// How long an abort waits for a cancelled request to come back: the port
// driver ends it by its own timeout at the latest, and a little later.
constexpr DWORD kCancelWaitMs = kPassThroughTimeoutSeconds * 1000 + 1000;
constexpr DWORD kCancelPollMs = 1;

uint32_t ReadU32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }

std::string PortName(int n) { return "\\\\.\\SCSI" + std::to_string(n) + ":"; }

void ScanLocked(SPTIState& state) {
    if (state.scanned) return;
    state.scanned = true;
    CDPlatform& platform = CDCurrentPlatform();
    for (int n = 0; n < 256; ++n) {
        wc::FileHandle port(platform.OpenDevice(PortName(n).c_str(), GENERIC_READ | GENERIC_WRITE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_FLAG_OVERLAPPED));
        if (!port) break;
        ++state.adapters;
        std::vector<uint8_t> info(kInquiryDataBufferSize, 0);
        DWORD returned = 0;
        if (platform.IoControl(port.get(), IOCTL_SCSI_GET_INQUIRY_DATA_CODE, nullptr, 0, info.data(),
                               kInquiryDataBufferSize, &returned, nullptr)) {
            const uint64_t size = std::min<uint64_t>(returned ? returned : kInquiryDataBufferSize, info.size());
            const uint64_t buses = size >= 1 ? info[0] : 0;
            for (uint64_t bus = 0; bus < buses; ++bus) {
                const uint64_t busAt = 4 + 8 * bus;
                if (busAt + 8 > size) break;
                uint64_t at = ReadU32(&info[busAt + 4]);
                for (int guard = 0; at != 0 && guard < 256; ++guard) {
                    if (at + 12 + 1 > size) break;
                    SPTIDevice device;
                    device.port = uint8_t(n);
                    device.path = info[at];
                    device.target = info[at + 1];
                    device.lun = info[at + 2];
                    const uint32_t length = ReadU32(&info[at + 4]);
                    device.deviceType = length > 0 ? (info[at + 12] & 0x1F) : 0x1F;
                    device.portHandle = port.get();
                    state.devices.push_back(device);
                    const uint64_t next = ReadU32(&info[at + 8]);
                    if (next <= at) break;  // a chain that runs backwards would loop
                    at = next;
                }
            }
        }
        state.ports.push_back(std::move(port));
    }
}

SPTIDevice* FindDevice(SPTIState& state, uint8_t ha, uint8_t target, uint8_t lun) {
    for (auto& device : state.devices)
        if (device.port == ha && device.target == target && device.lun == lun) return &device;
    return nullptr;
}

// Opens the device whose SCSI address matches, among "\\.\" plus the names
// the system knows, and sends that unit's requests there from now on. The
// other units of the old port keep it: the new handle reaches this unit only.
bool ReopenPort(SPTIState& state, SPTIDevice& device) {
    CDPlatform& platform = CDCurrentPlatform();
    std::vector<char> names(65536, 0);
    const DWORD length = platform.DosDevice(nullptr, names.data(), DWORD(names.size() - 1));
    if (length == 0) return false;
    for (size_t at = 0; at < length && names[at];) {
        const std::string name(&names[at]);
        at += name.size() + 1;
        wc::FileHandle handle(platform.OpenDevice(("\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_FLAG_OVERLAPPED));
        if (!handle) continue;
        CDScsiAddress address{};
        address.Length = sizeof(address);
        DWORD returned = 0;
        if (!platform.IoControl(handle.get(), IOCTL_SCSI_GET_ADDRESS_CODE, nullptr, 0, &address, sizeof(address),
                                &returned, nullptr))
            continue;
        if (address.PortNumber != device.port || address.PathId != device.path ||
            address.TargetId != device.target || address.Lun != device.lun)
            continue;
        device.portHandle = handle.get();
        state.ports.push_back(std::move(handle));
        return true;
    }
    return false;
}

// A pass-through request finished on its own thread.
struct PendingPassThrough {
    CDPassThroughRequest request{};
    OVERLAPPED overlapped{};
    wc::KernelHandle overlappedEvent;
    HANDLE device = nullptr;
    SRB_ExecSCSICmd* srb = nullptr;
    // Set by an abort: the caller has given the request block up, so the
    // completion must not touch it.
    bool detached = false;
};

// Signals the request's event when the caller asked for event notification.
void Notify(SRB_ExecSCSICmd* srb) {
    if ((srb->SRB_Flags & SRB_EVENT_NOTIFY) && srb->SRB_PostProc) ::SetEvent(static_cast<HANDLE>(srb->SRB_PostProc));
}

void FinishRequest(SRB_ExecSCSICmd* srb, const CDPassThroughRequest& request, bool succeeded) {
    srb->SRB_TargStat = request.sptd.ScsiStatus;
    if (!succeeded) {
        srb->SRB_Status = SS_ERR;
        return;
    }
    if (request.sptd.ScsiStatus != 0) {
        if (request.sptd.ScsiStatus == SCSI_STATUS_CHECK_CONDITION)
            std::memcpy(srb->SenseArea, request.sense, std::min<size_t>(srb->SRB_SenseLen, sizeof(srb->SenseArea)));
        srb->SRB_Status = SS_ERR;
        return;
    }
    srb->SRB_Status = SS_COMP;
}

DWORD WINAPI CompletionThread(void* parameter) {
    std::unique_ptr<PendingPassThrough> job(static_cast<PendingPassThrough*>(parameter));
    DWORD transferred = 0;
    const BOOL ok = CDCurrentPlatform().OverlappedResult(job->device, &job->overlapped, &transferred, TRUE);
    SPTIState& state = State();
    wc::CriticalSectionLock hold(state.lock);
    state.pending.erase(std::remove(state.pending.begin(), state.pending.end(), job.get()), state.pending.end());
    if (job->detached) return 0;
    FinishRequest(job->srb, job->request, ok != FALSE);
    Notify(job->srb);
    return 0;
}

// Cancels the pending request of `srb` and waits until its completion has
// let go of it; answers whether there was one.
bool CancelPending(SPTIState& state, const void* srb) {
    {
        wc::CriticalSectionLock hold(state.lock);
        auto found = std::find_if(state.pending.begin(), state.pending.end(),
                                  [srb](const PendingPassThrough* job) { return job->srb == srb && !job->detached; });
        if (found == state.pending.end()) return false;
        PendingPassThrough* job = *found;
        job->detached = true;
        job->srb->SRB_Status = SS_ABORTED;
        CDCurrentPlatform().CancelRequest(job->device, &job->overlapped);
    }
    // The completion thread removes the request from the list once the
    // system has given its buffer back.
    const DWORD started = ::GetTickCount();
    for (;;) {
        {
            wc::CriticalSectionLock hold(state.lock);
            if (std::none_of(state.pending.begin(), state.pending.end(),
                             [srb](const PendingPassThrough* job) { return job->srb == srb; }))
                return true;
        }
        if (::GetTickCount() - started >= kCancelWaitMs) return true;
        ::Sleep(kCancelPollMs);
    }
}

DWORD Execute(SPTIState& state, SRB_ExecSCSICmd* srb) {
    CDPlatform& platform = CDCurrentPlatform();
    for (int attempt = 0; attempt < 2; ++attempt) {
        SPTIDevice unit;
        {
            wc::CriticalSectionLock hold(state.lock);
            SPTIDevice* device = FindDevice(state, srb->SRB_HaId, srb->SRB_Target, srb->SRB_Lun);
            if (!device) return srb->SRB_Status = SS_NO_DEVICE;
            unit = *device;
        }
        const HANDLE port = unit.portHandle;
        auto job = std::make_unique<PendingPassThrough>();
        CDPassThroughDirect& sptd = job->request.sptd;
        sptd.Length = sizeof(CDPassThroughDirect);
        sptd.PathId = unit.path;
        sptd.TargetId = unit.target;
        sptd.Lun = unit.lun;
        sptd.CdbLength = std::min<uint8_t>(srb->SRB_CDBLen, 16);
        std::memcpy(sptd.Cdb, srb->CDBByte, sptd.CdbLength);
        sptd.DataTransferLength = srb->SRB_BufLen;
        sptd.DataBuffer = srb->SRB_BufPointer;
        sptd.TimeOutValue = kPassThroughTimeoutSeconds;
        sptd.SenseInfoOffset = offsetof(CDPassThroughRequest, sense);
        sptd.SenseInfoLength = std::min<uint8_t>(srb->SRB_SenseLen, sizeof(job->request.sense));
        sptd.DataIn = (srb->SRB_Flags & SRB_DIR_IN)    ? SCSI_IOCTL_DATA_IN
                      : (srb->SRB_Flags & SRB_DIR_OUT) ? SCSI_IOCTL_DATA_OUT
                                                       : SCSI_IOCTL_DATA_UNSPECIFIED;
        // The port was opened for overlapped I/O: every request, with or
        // without event notification, needs an OVERLAPPED with an event.
        job->overlappedEvent.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
        if (!job->overlappedEvent) return srb->SRB_Status = SS_ERR;
        job->overlapped.hEvent = job->overlappedEvent.get();
        job->device = port;
        job->srb = srb;
        DWORD returned = 0;
        srb->SRB_Status = SS_PENDING;
        const BOOL ok = platform.IoControl(port, IOCTL_SCSI_PASS_THROUGH_DIRECT_CODE, &job->request,
                                           sizeof(CDPassThroughRequest), &job->request, sizeof(CDPassThroughRequest),
                                           &returned, &job->overlapped);
        if (!ok) {
            const DWORD error = platform.LastError();
            if (error == ERROR_IO_PENDING) {
                PendingPassThrough* raw = job.release();
                {
                    wc::CriticalSectionLock hold(state.lock);
                    state.pending.push_back(raw);
                }
                DWORD id = 0;
                wc::KernelHandle thread(::CreateThread(nullptr, 0, CompletionThread, raw, 0, &id));
                if (!thread) {
                    {
                        wc::CriticalSectionLock hold(state.lock);
                        state.pending.erase(std::remove(state.pending.begin(), state.pending.end(), raw),
                                            state.pending.end());
                    }
                    job.reset(raw);
                    DWORD transferred = 0;
                    FinishRequest(srb, job->request,
                                  platform.OverlappedResult(port, &job->overlapped, &transferred, TRUE) != FALSE);
                    Notify(srb);
                }
                return SS_PENDING;
            }
            if (attempt == 0 && (error == ERROR_MEDIA_CHANGED || error == ERROR_INVALID_HANDLE)) {
                wc::CriticalSectionLock hold(state.lock);
                SPTIDevice* device = FindDevice(state, srb->SRB_HaId, srb->SRB_Target, srb->SRB_Lun);
                if (device && ReopenPort(state, *device)) continue;
            }
            srb->SRB_Status = SS_ERR;
            Notify(srb);
            return SS_ERR;
        }
        FinishRequest(srb, job->request, true);
        Notify(srb);
        return srb->SRB_Status;
    }
    return srb->SRB_Status = SS_ERR;
}

}  // namespace

CDPlatform& CDCurrentPlatform() { return *gPlatform; }
bool CDUsingSystemPlatform() { return gPlatform == &gSystemPlatform; }

void SPTISetPlatform(CDPlatform* platform) {
    SPTIReset();
    gPlatform = platform ? platform : &gSystemPlatform;
}

int SPTIAdapterCount() {
    SPTIState& state = State();
    wc::CriticalSectionLock hold(state.lock);
    ScanLocked(state);
    return state.adapters;
}

std::vector<SPTIDevice> SPTIDevices() {
    SPTIState& state = State();
    wc::CriticalSectionLock hold(state.lock);
    ScanLocked(state);
    return state.devices;
}

void SPTIReset() {
    SPTIState& state = State();
    wc::CriticalSectionLock hold(state.lock);
    state.scanned = false;
    state.adapters = 0;
    state.devices.clear();
    state.ports.clear();
}

DWORD __cdecl SPTIGetASPI32SupportInfo() {
    const int adapters = SPTIAdapterCount();
    if (adapters == 0) return DWORD(SS_NO_ADAPTERS) << 8;
    return (DWORD(SS_COMP) << 8) | DWORD(adapters & 0xFF);
}

DWORD __cdecl SPTISendASPI32Command(void* request) {
    if (!request) return SS_INVALID_CMD;
    SPTIState& state = State();
    const int adapters = SPTIAdapterCount();
    auto* header = static_cast<SRB_Header*>(request);
    switch (header->SRB_Cmd) {
    case SC_HA_INQUIRY: {
        auto* srb = static_cast<SRB_HAInquiry*>(request);
        if (srb->SRB_HaId >= adapters) return srb->SRB_Status = SS_INVALID_HA;
        srb->HA_Count = uint8_t(adapters);
        srb->HA_SCSI_ID = 7;
        std::memset(srb->HA_ManagerId, 0, sizeof(srb->HA_ManagerId));
        std::memset(srb->HA_Identifier, 0, sizeof(srb->HA_Identifier));
        std::memcpy(srb->HA_ManagerId, "SPTI ASPI v1.0", 14);
        char identifier[17] = {};
        std::snprintf(identifier, sizeof(identifier), "SCSI Adapter %02u", unsigned(srb->SRB_HaId));
        std::memcpy(srb->HA_Identifier, identifier, std::strlen(identifier));
        std::memset(srb->HA_Unique, 0, sizeof(srb->HA_Unique));
        const uint32_t maxTransfer = 0x10000;
        std::memcpy(&srb->HA_Unique[4], &maxTransfer, 4);
        return srb->SRB_Status = SS_COMP;
    }
    case SC_GET_DEV_TYPE: {
        auto* srb = static_cast<SRB_GDEVBlock*>(request);
        if (srb->SRB_HaId >= adapters) return srb->SRB_Status = SS_INVALID_HA;
        wc::CriticalSectionLock hold(state.lock);
        SPTIDevice* device = FindDevice(state, srb->SRB_HaId, srb->SRB_Target, srb->SRB_Lun);
        if (!device) return srb->SRB_Status = SS_NO_DEVICE;
        srb->SRB_DeviceType = device->deviceType;
        return srb->SRB_Status = SS_COMP;
    }
    case SC_EXEC_SCSI_CMD: {
        auto* srb = static_cast<SRB_ExecSCSICmd*>(request);
        if (srb->SRB_HaId >= adapters) return srb->SRB_Status = SS_INVALID_HA;
        return Execute(state, srb);
    }
    case SC_ABORT_SRB: {
        // Once this returns, the caller may give the request block and its buffer back.
        auto* srb = static_cast<SRB_Abort*>(request);
        CancelPending(state, srb->SRB_ToAbort);
        return srb->SRB_Status = SS_COMP;
    }
    default:
        return header->SRB_Status = SS_INVALID_CMD;
    }
}
