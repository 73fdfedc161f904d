// Threads: see the header. gManager (the bound ASPI manager) is written only
// by cdInit and CDForgetManager on the user-interface thread.
#include "media/cd/MMASPI.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>

#include "media/cd/MMSPTI.h"

namespace {

// How long an event-notified request may stay pending.
constexpr DWORD kEventWaitMs = 10000;
// How long a request without event notification is polled.
constexpr DWORD kPollWaitMs = 9999;
// The event wait runs in slices this long so that the abort flag ends it soon.
constexpr DWORD kWaitSliceMs = 10;
// cdDone waits this long for an outstanding request.
constexpr DWORD kDoneWaitMs = 10000;
// Opening a drive by letter: tries in all, and the first try that adds write access.
constexpr int kOpenTries = 6;
constexpr int kOpenWriteFromTry = 5;
// Attempts of a read with retries; the last asks for one sector less.
constexpr int kReadAttempts = 20;
constexpr UINT kManagerErrorMode = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;  // 0x8001

// The ASPI manager bound for the process, or none.
struct BoundManager {
    HMODULE module = nullptr;
    bool systemModule = false;  // loaded by the system, not by a test's platform
    SendASPI32CommandProc send = nullptr;
    GetASPI32SupportInfoProc supportInfo = nullptr;
    // At process exit only a library the system loaded is released: a test's
    // platform is gone by then.
    ~BoundManager() {
        if (module && systemModule) ::FreeLibrary(module);
    }
    void Release() {
        if (module) CDCurrentPlatform().FreeLib(module);
        module = nullptr;
        systemModule = false;
        send = nullptr;
        supportInfo = nullptr;
    }
};
BoundManager gManager;

bool BindManager() {
    if (gManager.send && gManager.supportInfo) return true;
    struct Candidate {
        const char* library;
        const char* send;
        const char* info;
    };
    static const Candidate candidates[] = {
        {"WNASPI32.DLL", "SendASPI32Command", "GetASPI32SupportInfo"},
        {"C2ASPI.DLL", "SendASPI32Command", "GetASPI32SupportInfo"},
        {"ASAPI.DLL", "SendASAPI32Command", "GetASAPI32SupportInfo"},
    };
    CDPlatform& platform = CDCurrentPlatform();
    for (const Candidate& candidate : candidates) {
        const UINT previous = platform.ErrorMode(kManagerErrorMode);
        HMODULE module = platform.LoadLib(candidate.library);
        platform.ErrorMode(previous);
        if (!module) continue;
        auto send = reinterpret_cast<SendASPI32CommandProc>(
            reinterpret_cast<void*>(platform.GetProc(module, candidate.send)));
        auto info = reinterpret_cast<GetASPI32SupportInfoProc>(
            reinterpret_cast<void*>(platform.GetProc(module, candidate.info)));
        if (send && info) {
            gManager.module = module;
            gManager.systemModule = CDUsingSystemPlatform();
            gManager.send = send;
            gManager.supportInfo = info;
            return true;
        }
        platform.FreeLib(module);
    }
    return false;
}

std::string TrimRight(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    return text;
}
std::string Trim(std::string text) {
    text = TrimRight(std::move(text));
    size_t start = 0;
    while (start < text.size() && text[start] == ' ') ++start;
    return text.substr(start);
}
std::string Upper(std::string text) {
    for (char& c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}
std::string InquiryText(const CDDeviceEntry& entry, int from, int length) {
    std::string text(reinterpret_cast<const char*>(&entry.inquiry[from]), size_t(length));
    return TrimRight(text.substr(0, std::min(text.find('\0'), text.size())));
}

void CopyText(const std::string& text, char* buffer, int size) {
    if (!buffer || size <= 0) return;
    const size_t n = std::min<size_t>(text.size(), size_t(size - 1));
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

uint32_t BE32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }
uint16_t BE16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }

// Sends one SCSI command to a unit and waits for it.
int ExecSCSI(CDDeviceContext& context, uint8_t adapter, uint8_t target, uint8_t lun, const CDB& cdb,
             uint8_t direction, void* buffer, uint32_t length) {
    if (!context.send) return CDErrASPIFailed;
    wc::CriticalSectionLock hold(context.lock);
    // A read with retries keeps the flag set across its requests.
    const bool wasBusy = context.busy.exchange(true);
    // An abort is meant for the read it was given to: a request that starts
    // on its own (not one attempt of a read) must not find it still set.
    if (!wasBusy) context.abort = false;
    SRB_ExecSCSICmd srb{};
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = adapter;
    srb.SRB_Flags = direction;
    srb.SRB_Target = target;
    srb.SRB_Lun = lun;
    srb.SRB_BufLen = length;
    srb.SRB_BufPointer = static_cast<uint8_t*>(buffer);
    srb.SRB_SenseLen = ASPISenseLength;
    srb.SRB_CDBLen = cdb.length;
    std::memcpy(srb.CDBByte, cdb.bytes.data(), cdb.length);
    srb.CDBByte[1] = uint8_t((srb.CDBByte[1] & 0x1F) | ((lun & 0x07) << 5));
    const bool notify = context.completionEvent.valid();
    if (notify) {
        srb.SRB_Flags |= SRB_EVENT_NOTIFY;
        srb.SRB_PostProc = context.completionEvent.get();
        ::ResetEvent(context.completionEvent.get());
    }
    context.send(&srb);
    volatile uint8_t* status = &srb.SRB_Status;
    int result = 0;
    if (*status == SS_PENDING) {
        const DWORD started = ::GetTickCount();
        const DWORD limit = notify ? kEventWaitMs : kPollWaitMs;
        while (*status == SS_PENDING && !context.abort && ::GetTickCount() - started < limit) {
            if (notify)
                ::WaitForSingleObject(context.completionEvent.get(), std::min(kWaitSliceMs, limit));
            else
                ::SwitchToThread();
        }
        if (*status == SS_PENDING) {
            // The manager must let go of the request block before it leaves scope.
            SRB_Abort abortRequest{};
            abortRequest.SRB_Cmd = SC_ABORT_SRB;
            abortRequest.SRB_HaId = adapter;
            abortRequest.SRB_ToAbort = &srb;
            context.send(&abortRequest);
            result = CDErrTimeout;
        }
    }
    if (result == 0) result = *status == SS_COMP ? 0 : CDErrASPIFailed;
    context.busy = wasBusy;
    return result;
}

int ExecCurrent(CDDeviceContext& context, const CDB& cdb, uint8_t direction, void* buffer, uint32_t length) {
    if (context.current < 0 || context.current >= int(context.devices.size())) return CDErrInvalidDevice;
    const CDDeviceEntry& entry = context.devices[size_t(context.current)];
    return ExecSCSI(context, entry.adapter, entry.target, entry.lun, cdb, direction, buffer, length);
}

int ScanDevices(CDDeviceContext& context) {
    const DWORD info = context.supportInfo();
    if (((info >> 8) & 0xFF) != SS_COMP) return CDErrNoASPIManager;
    const int adapters = int(info & 0xFF);
    if (adapters == 0) return CDErrNoHostAdapter;
    for (int adapter = 0; adapter < adapters; ++adapter)
        for (uint8_t target = 0; target < 8; ++target)
            for (uint8_t lun = 0; lun < 8; ++lun) {
                CDDeviceEntry entry;
                entry.adapter = uint8_t(adapter);
                entry.target = target;
                entry.lun = lun;
                if (ExecSCSI(context, entry.adapter, target, lun, CdbInquiry(), SRB_DIR_IN, entry.inquiry.data(),
                             CDInquiryLength) != 0)
                    continue;
                if ((entry.inquiry[0] & 0x1F) == 5) context.devices.push_back(entry);
            }
    return 0;
}

// The drive letters whose root is a CD-ROM drive, in order.
std::vector<char> CdRomLetters() {
    CDPlatform& platform = CDCurrentPlatform();
    std::vector<char> letters;
    const DWORD drives = platform.LogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if (!(drives & (1u << i))) continue;
        const char root[4] = {char('A' + i), ':', '\\', 0};
        if (platform.DriveType(root) == DRIVE_CDROM) letters.push_back(char('A' + i));
    }
    return letters;
}

// The MCI device's name for string commands.
std::string NewAlias() { return "CD" + std::to_string(CDCurrentPlatform().TickCount()) + ":"; }

bool MciOpen(CDDeviceContext& context) {
    if (!context.mciAlias.empty()) return true;
    if (!context.driveLetter) return false;
    CDPlatform& platform = CDCurrentPlatform();
    const std::string alias = NewAlias();
    std::string answer;
    const std::string element = std::string(1, context.driveLetter) + ":";
    if (platform.MciSendString("open " + element + " type cdaudio alias " + alias + " shareable", answer) != 0)
        return false;
    if (platform.MciSendString("set " + alias + " time format msf", answer) != 0) {
        platform.MciSendString("close " + alias, answer);
        return false;
    }
    context.mciAlias = alias;
    return true;
}

void MciClose(CDDeviceContext& context) {
    if (context.mciAlias.empty()) return;
    std::string answer;
    CDCurrentPlatform().MciSendString("close " + context.mciAlias, answer);
    context.mciAlias.clear();
}

// "mm:ss:ff" to packed MSF; false for anything else.
bool ParseMSF(const std::string& text, uint32_t& msf) {
    unsigned m = 0, s = 0, f = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%u:%u:%u%c", &m, &s, &f, &tail) != 3 || m > 255 || s > 59 || f > 74) return false;
    msf = m | (s << 8) | (f << 16);
    return true;
}

// Opens the MCI device around one call when none is open.
class MciScope {
public:
    explicit MciScope(CDDeviceContext& context) : context_(context), temporary_(context.mciAlias.empty()) {
        ok_ = MciOpen(context_);
    }
    ~MciScope() {
        if (temporary_) MciClose(context_);
    }
    bool ok() const { return ok_; }

private:
    CDDeviceContext& context_;
    bool temporary_;
    bool ok_ = false;
};

void FillEntry(CDTrackEntry& entry, int number, uint8_t control, uint32_t startFrames, uint32_t lengthFrames) {
    entry.number = number;
    entry.start = CDFramesToMSF(startFrames);
    entry.length = CDFramesToMSF(lengthFrames);
    entry.audio = (control & 0x04) == 0;
    entry.copyProhibited = (control & 0x02) == 0;
    entry.preEmphasis = (control & 0x01) != 0;
}

void KeepAudioArea(CDDeviceContext& context, const CDTrackList& toc) {
    context.firstAudioSector = 0;
    context.audioEnd = 0;
    bool found = false;
    for (int i = 0; i < toc.count; ++i) {
        const CDTrackEntry& entry = toc.tracks[size_t(i)];
        if (!entry.audio) continue;
        const int32_t start = int32_t(CDMSFToFrames(entry.start)) - CDLeadIn;
        if (!found) context.firstAudioSector = start;
        found = true;
        context.audioEnd = start + int32_t(CDMSFToFrames(entry.length));
    }
}

int ReadTOCASPI(CDDeviceContext& context, CDTrackList& toc) {
    std::array<uint8_t, CDTOCLength> data{};
    const int status = ExecCurrent(context, CdbReadTOC(), SRB_DIR_IN, data.data(), CDTOCLength);
    if (status != 0) return status;
    const int first = data[2], last = data[3];
    // Bytes the drive says it returned, beyond the length field itself.
    const int64_t available = std::min<int64_t>(int64_t(BE16(&data[0])) + 2, CDTOCLength);
    if (first > last || last == 0) return CDErrNotReady;
    int count = 0;
    for (int i = std::max(first - 1, 0); i < last && i < CDMaxTracks; ++i) {
        const int64_t at = 4 + 8 * int64_t(i);
        if (at + 16 > available) return toc.count = 0, CDErrNotReady;
        const uint8_t* entry = &data[size_t(at)];
        const uint8_t* next = entry + 8;
        const uint32_t lba = BE32(entry + 4), nextLba = BE32(next + 4);
        if (nextLba < lba || nextLba > 0x7FFFFFFF - CDLeadIn) return toc.count = 0, CDErrNotReady;
        uint32_t length = nextLba - lba;
        if (i == last - 2 && (next[1] & 0x04) && length > CDEnhancedGap) length -= CDEnhancedGap;
        FillEntry(toc.tracks[size_t(count)], entry[2], entry[1] & 0x0F, lba + CDLeadIn, length);
        ++count;
    }
    toc.count = count;
    return 0;
}

int ReadTOCIoctl(CDDeviceContext& context, CDTrackList& toc) {
    CDPlatform& platform = CDCurrentPlatform();
    const bool temporary = !context.opened;
    if (temporary && cdOpen(&context, false) != 0) return CDErrNotReady;
    CDRomTOC table{};
    DWORD returned = 0;
    int status = 0;
    std::string answer;
    if (!context.ioctlDevice ||
        !platform.IoControl(context.ioctlDevice.get(), IOCTL_CDROM_READ_TOC_CODE, nullptr, 0, &table, sizeof(table),
                            &returned, nullptr)) {
        status = CDErrNotReady;
    } else if (!MciOpen(context) ||
               platform.MciSendString("status " + context.mciAlias + " number of tracks", answer) != 0) {
        status = CDErrNotReady;
    } else {
        const int tracks = std::min(std::atoi(answer.c_str()), CDMaxTracks);
        int count = 0;
        for (int t = 1; t <= tracks; ++t) {
            std::string position, length;
            uint32_t start = 0, size = 0;
            const std::string track = " track " + std::to_string(t);
            if (platform.MciSendString("status " + context.mciAlias + " position" + track, position) != 0 ||
                platform.MciSendString("status " + context.mciAlias + " length" + track, length) != 0 ||
                !ParseMSF(position, start) || !ParseMSF(length, size)) {
                status = CDErrNotReady;
                break;
            }
            uint8_t control = 0;
            int number = t;
            const int index = t - table.FirstTrack;
            if (index >= 0 && index < 100) {
                control = table.TrackData[index].ControlAdr & 0x0F;
                number = table.TrackData[index].TrackNumber;
            }
            FillEntry(toc.tracks[size_t(count)], number, control, CDMSFToFrames(start), CDMSFToFrames(size));
            ++count;
        }
        toc.count = status == 0 ? count : 0;
    }
    if (temporary) cdClose(&context);
    return status;
}

}  // namespace

void CDForgetManager() { gManager.Release(); }

void CDSetPlatform(CDPlatform* platform) {
    CDForgetManager();
    SPTISetPlatform(platform);
}

CDDeviceHandle cdInit(int& status, bool& ioctlPreferred) {
    CDDeviceHandle context(new (std::nothrow) CDDeviceContext);
    if (!context) {
        status = CDErrNoMemory;
        return nullptr;
    }
    CDPlatform& platform = CDCurrentPlatform();
    const bool nt = platform.IsNTFamily();
    const bool passThrough = platform.PassThroughCapable();
    // Drive letters preferred on the NT family: neither a manager nor the
    // emulated one over the SCSI ports, whatever the system offers.
    const bool byLetter = ioctlPreferred && nt;
    if (!byLetter) BindManager();
    if (byLetter) {
        // IOCTL mode below, when the system can have it.
    } else if (gManager.send) {
        context->send = gManager.send;
        context->supportInfo = gManager.supportInfo;
    } else if (passThrough && SPTIAdapterCount() > 0) {
        context->send = SPTISendASPI32Command;
        context->supportInfo = SPTIGetASPI32SupportInfo;
    }
    int result = CDErrNoASPILibrary;
    if (context->send) {
        context->completionEvent.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
        result = ScanDevices(*context);
        if (result == 0 || !passThrough) context->aspiMode = true;
    }
    if (!context->aspiMode && passThrough) context->ioctlMode = true;
    status = (context->aspiMode || context->ioctlMode) ? 0 : result;
    ioctlPreferred = context->ioctlMode;
    return context;
}

int cdDone(CDDeviceHandle& context) {
    if (!context) return 0;
    if (cdStopBurst(context.get()) != 0) {
        // The reader thread is still inside the device with this context:
        // it is left to it rather than freed under it.
        (void)context.release();
        return 0;
    }
    cdStopSync(context.get());
    cdClose(context.get());
    if (context->aspiMode) {
        const DWORD started = ::GetTickCount();
        while (context->busy && ::GetTickCount() - started < kDoneWaitMs) ::Sleep(kWaitSliceMs);
    }
    context.reset();
    return 0;
}

int cdGetNumDevices(CDDeviceContext* context) {
    if (!context) return 0;
    if (context->aspiMode) return int(context->devices.size());
    if (context->ioctlMode) return int(CdRomLetters().size());
    return 0;
}

int cdSetDevice(CDDeviceContext* context, int index) {
    if (!context) return CDErrInvalidHandle;
    if (index == context->selected) return CDErrInvalidDevice;
    context->typeTested = false;
    context->speed = 0;
    context->mmcCapable = false;
    if (index < 0) {
        context->selected = -2;
        context->current = -1;
        context->driveLetter = 0;
        return CDErrInvalidDevice;
    }
    if (index >= cdGetNumDevices(context)) return CDErrInvalidDevice;
    context->selected = index;
    if (context->aspiMode) {
        context->current = index;
        cdSetDriveType(context, context->driveType, false);
        char letter = 0;
        cdGetDriveLetter(context, index, letter);
        context->driveLetter = letter;
    } else if (context->ioctlMode) {
        // The drives may have changed since they were counted.
        const std::vector<char> letters = CdRomLetters();
        context->driveLetter = size_t(index) < letters.size() ? letters[size_t(index)] : 0;
    }
    return 0;
}

int cdGetDeviceName(CDDeviceContext* context, int index, char* buffer, int size) {
    if (!context) return CDErrInvalidHandle;
    if (!buffer || size <= 0) return CDErrInvalidParam;
    if (index < 0 || index >= cdGetNumDevices(context)) return CDErrInvalidDevice;
    if (context->aspiMode) {
        const CDDeviceEntry& entry = context->devices[size_t(index)];
        CopyText(Trim(InquiryText(entry, 8, 8) + " - " + InquiryText(entry, 16, 16)), buffer, size);
        return 0;
    }
    std::string name = "Generic Win32 Device";
    CDPlatform& platform = CDCurrentPlatform();
    const std::vector<char> letters = CdRomLetters();
    if (size_t(index) >= letters.size()) return CDErrInvalidDevice;
    const char letter = letters[size_t(index)];
    std::vector<uint8_t> data;
    if (platform.RegReadBinary(HKEY_LOCAL_MACHINE, "SYSTEM\\MountedDevices",
                               std::string("\\DosDevices\\") + letter + ":", data)) {
        std::string text;
        for (size_t i = 0; i + 1 < data.size(); i += 2) {
            const unsigned c = data[i] | (data[i + 1] << 8);
            if (c == 0) break;
            text.push_back(c < 0x80 ? char(c) : '?');
        }
        const std::string prefix = "\\??\\";
        constexpr size_t kSuffixLength = 43;  // "#{interface class}" and what follows it
        if (text.compare(0, prefix.size(), prefix) == 0 && text.size() > prefix.size() + kSuffixLength) {
            std::string key = text.substr(prefix.size(), text.size() - prefix.size() - kSuffixLength);
            const size_t rw = key.find("#RW");
            for (size_t i = 0; i < key.size(); ++i)
                if (key[i] == '#') key[i] = i == rw ? '/' : '\\';
            std::string friendly;
            if (platform.RegReadString(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\" + key,
                                       "FriendlyName", friendly)) {
                const size_t cut = friendly.find(" SCSI CdRom Device");
                name = friendly.substr(0, cut);
            }
        }
    }
    CopyText(name, buffer, size);
    return 0;
}

int cdGetDriveLetter(CDDeviceContext* context, int index, char& letter) {
    letter = 0;
    if (!context) return CDErrInvalidHandle;
    if (index < 0 || index >= cdGetNumDevices(context)) return CDErrInvalidDevice;
    CDPlatform& platform = CDCurrentPlatform();
    if (context->ioctlMode) {
        const std::vector<char> letters = CdRomLetters();
        if (size_t(index) >= letters.size()) return CDErrInvalidDevice;
        letter = letters[size_t(index)];
        return 0;
    }
    if (platform.PassThroughCapable()) {
        const std::string wanted = "\\Device\\CdRom" + std::to_string(index);
        for (char drive : CdRomLetters()) {
            char target[1024] = {};
            const char name[3] = {drive, ':', 0};
            if (!platform.DosDevice(name, target, sizeof(target) - 1)) continue;
            const std::string device(target);
            const size_t at = device.find(wanted);
            // "\Device\CdRom1" is not "\Device\CdRom10".
            if (at == std::string::npos ||
                (at + wanted.size() < device.size() && std::isdigit(static_cast<unsigned char>(device[at + wanted.size()]))))
                continue;
            letter = drive;
            return 0;
        }
        return CDErrInvalidDevice;
    }
    // The 95/98/ME family: the configuration manager's dynamic key.
    const CDDeviceEntry& entry = context->devices[size_t(index)];
    const std::string description = Upper(InquiryText(entry, 8, 8) + " " + InquiryText(entry, 16, 16));
    for (DWORD i = 0; i < 4096; ++i) {
        std::string name, hardware;
        if (!platform.RegEnumKey(HKEY_DYN_DATA, "Config Manager\\Enum", i, name)) break;
        if (!platform.RegReadString(HKEY_DYN_DATA, "Config Manager\\Enum\\" + name, "HardWareKey", hardware)) continue;
        if (hardware.find("SCSI\\") == std::string::npos) continue;
        const std::string key = "Enum\\" + hardware;
        std::string cls, desc, lun, target, assignment;
        if (!platform.RegReadString(HKEY_LOCAL_MACHINE, key, "Class", cls) || cls != "CDROM") continue;
        if (!platform.RegReadString(HKEY_LOCAL_MACHINE, key, "DeviceDesc", desc) || Upper(desc) != description) continue;
        if (!platform.RegReadString(HKEY_LOCAL_MACHINE, key, "SCSILUN", lun) || lun != std::to_string(entry.lun)) continue;
        if (!platform.RegReadString(HKEY_LOCAL_MACHINE, key, "SCSITargetID", target) ||
            target != std::to_string(entry.target))
            continue;
        if (!platform.RegReadString(HKEY_LOCAL_MACHINE, key, "CurrentDriveLetterAssignment", assignment) ||
            assignment.empty())
            continue;
        letter = assignment[0];
        return 0;
    }
    return CDErrInvalidDevice;
}

int cdSetDriveType(CDDeviceContext* context, int type, bool apply) {
    if (!context) return CDErrInvalidHandle;
    if (type < 0 || type >= int(CDDriveTypeNames.size())) return CDErrInvalidParam;
    context->driveType = type;
    context->sectorSize = CDRawSectorSize;
    context->byteSwap = false;
    context->readMethod = rmReadCD;
    if (!apply || !context->aspiMode) return 0;
    if (context->current < 0) return CDErrInvalidDevice;
    std::string vendor, product;
    if (type == CDTypeAutoDetect) {
        const CDDeviceEntry& entry = context->devices[size_t(context->current)];
        vendor = Trim(Upper(InquiryText(entry, 8, 8)));
        product = Trim(Upper(InquiryText(entry, 16, 16)));
        if (!context->typeTested) {
            context->typeTested = true;
            std::vector<uint8_t> probe(CDRawSectorSize, 0);
            if (ExecCurrent(*context, CdbReadCD(uint32_t(context->firstAudioSector), 1), SRB_DIR_IN, probe.data(),
                            CDRawSectorSize) == 0)
                context->mmcCapable = true;
        }
        if (context->mmcCapable) return 0;
    } else if (type == CDTypeATAPI) {
        return 0;
    } else {
        vendor = CDDriveTypeNames[size_t(type)];
    }
    auto is = [&](std::initializer_list<const char*> names) {
        for (const char* name : names)
            if (vendor.compare(0, std::strlen(name), name) == 0) return true;
        return false;
    };
    if (is({"HP", "PHILIPS", "KODAK", "MITSUMI", "GRUNDIG", "PLASMON", "IMS", "RICOH"})) {
        context->byteSwap = true;
        context->readMethod = rmRead10;
        if (product.compare(0, 2, "MP") == 0 || product.compare(0, 2, "MS") == 0) context->byteSwap = false;
    }
    const bool large = is({"TOSHIBA", "IBM", "DEC"});
    if (large) {
        context->sectorSize = CDLargeSectorSize;
        context->readMethod = rmRead10;
    }
    if (is({"NEC", "MATSHITA", "PANASONIC"})) context->readMethod = rmVendorD4;
    if (is({"SONY", "HITACHI", "PIONEER", "PLEXTOR", "TEAC", "RICOH"})) context->readMethod = rmVendorD8;
    if (is({"CYBER"})) context->readMethod = rmRead10;
    std::array<uint8_t, CDModeListLength> list = large ? CDModeListA : is({"RICOH"}) ? CDModeListC : CDModeListB;
    return ExecCurrent(*context, CdbModeSelect6(), SRB_DIR_OUT, list.data(), CDModeListLength);
}

int cdOpen(CDDeviceContext* context, bool rawOnly) {
    if (!context) return CDErrInvalidHandle;
    if (context->selected < 0) return CDErrInvalidDevice;
    if (context->opened) return CDErrAlreadyOpen;
    if (context->aspiMode) {
        const int status = cdSetDriveType(context, context->driveType, rawOnly);
        if (status != 0) return status;
    } else if (context->ioctlMode) {
        if (!context->driveLetter) return CDErrOpen;
        char name[16];
        std::snprintf(name, sizeof(name), "\\\\.\\%c:", context->driveLetter);
        for (int attempt = 1; attempt <= kOpenTries && !context->ioctlDevice; ++attempt) {
            const DWORD access = GENERIC_READ | (attempt >= kOpenWriteFromTry ? GENERIC_WRITE : 0);
            context->ioctlDevice.reset(
                CDCurrentPlatform().OpenDevice(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, 0));
        }
        if (!context->ioctlDevice) return CDErrOpen;
    } else {
        return CDErrOpen;
    }
    if (!rawOnly && !MciOpen(*context)) {
        context->ioctlDevice.reset();
        return CDErrOpen;
    }
    context->opened = true;
    context->firstRead = true;
    return 0;
}

int cdClose(CDDeviceContext* context) {
    if (!context) return CDErrInvalidHandle;
    if (!context->opened) return 0;
    MciClose(*context);
    context->ioctlDevice.reset();
    context->opened = false;
    return 0;
}

int cdMediaPresent(CDDeviceContext* context) {
    if (!context) return CDErrInvalidHandle;
    MciScope mci(*context);
    std::string answer;
    if (!mci.ok() || CDCurrentPlatform().MciSendString("status " + context->mciAlias + " media present", answer) != 0 ||
        answer != "true")
        return CDErrNotReady;
    return 0;
}

int cdStop(CDDeviceContext* context) {
    if (!context) return CDErrInvalidHandle;
    MciScope mci(*context);
    std::string answer;
    CDPlatform& platform = CDCurrentPlatform();
    if (!mci.ok() || platform.MciSendString("status " + context->mciAlias + " mode", answer) != 0) return CDErrStop;
    if (answer == "playing" && platform.MciSendString("stop " + context->mciAlias, answer) != 0) return CDErrStop;
    return 0;
}

int cdSetSpeed(CDDeviceContext* context, int speed) {
    if (!context) return CDErrInvalidHandle;
    if (!context->aspiMode) return CDErrNeedsASPI;
    if (speed == context->speed) return 0;
    const int status = ExecCurrent(*context, CdbSetSpeed(uint16_t(speed)), 0, nullptr, 0);
    if (status == 0) context->speed = speed;
    return status;
}

int cdLockDevice(CDDeviceContext* context, bool lock) {
    if (!context) return CDErrInvalidHandle;
    if (context->aspiMode) return ExecCurrent(*context, CdbPreventAllow(lock), 0, nullptr, 0) == 0 ? 0 : CDErrLock;
    if (context->ioctlMode && context->ioctlDevice) {
        CDPreventMediaRemoval request{uint8_t(lock ? 1 : 0)};
        DWORD returned = 0;
        if (CDCurrentPlatform().IoControl(context->ioctlDevice.get(), IOCTL_STORAGE_MEDIA_REMOVAL_CODE, &request,
                                          sizeof(request), nullptr, 0, &returned, nullptr))
            return 0;
    }
    return CDErrLock;
}

int cdReadTOC(CDDeviceContext* context, CDTrackList& toc) {
    if (!context) return CDErrInvalidHandle;
    toc.count = 0;
    int status = CDErrNotReady;
    if (context->aspiMode)
        status = ReadTOCASPI(*context, toc);
    else if (context->ioctlMode)
        status = ReadTOCIoctl(*context, toc);
    if (status == 0) KeepAudioArea(*context, toc);
    return status;
}

int cdReadCDText(CDDeviceContext* context, CDTextInfo& text) {
    if (!context) return CDErrInvalidHandle;
    for (auto& block : text) block.reset();
    if (!context->aspiMode) return CDErrNeedsASPI;
    std::array<uint8_t, 4> header{};
    int status = ExecCurrent(*context, CdbReadCDText(4), SRB_DIR_IN, header.data(), uint32_t(header.size()));
    if (status != 0) return status;
    const uint32_t allocation = std::min<uint32_t>(uint32_t(BE16(header.data())) + 4, 0xFFFF);
    std::vector<uint8_t> data(allocation, 0);
    status = ExecCurrent(*context, CdbReadCDText(uint16_t(allocation)), SRB_DIR_IN, data.data(), allocation);
    if (status != 0) return status;
    // The answer holds its length field and what that counts, at most the buffer.
    const int64_t size = std::min<int64_t>(int64_t(BE16(data.data())) + 2, int64_t(data.size()));
    CDParseTextPacks(data.data(), size, text);
    return 0;
}

void CDParseTextPacks(const uint8_t* data, int64_t size, CDTextInfo& text) {
    constexpr int64_t kHeader = 4, kPack = 18, kTextBytes = 12;
    struct Progress {
        int previousType = -1;
        int entry = 0;
        std::string item;
    };
    std::array<Progress, CDTextBlockSlots> progress{};
    for (int64_t at = kHeader; at + kPack <= size; at += kPack) {
        const uint8_t* pack = data + at;
        if (pack[1] & 0x80) continue;  // extension pack
        if (pack[0] < 0x80 || pack[0] > 0x8F) continue;  // no pack type: not a pack
        const int blockNumber = (pack[3] >> 4) & 0x07;
        auto& block = text[size_t(blockNumber)];
        if (!block) {
            block.reset(new (std::nothrow) CDTextBlock);
            if (!block) return;
            block->doubleByte = (pack[3] & 0x80) != 0;
        }
        Progress& state = progress[size_t(blockNumber)];
        if (pack[0] != state.previousType) {
            state.entry = 0;
            state.item.clear();
        }
        state.previousType = pack[0];
        const int field = CDTextFieldIndex(pack[0]);
        for (int64_t i = 0; i < kTextBytes; ++i) {
            const char c = char(pack[4 + i]);
            if (c != '\0') {
                if (state.item.size() < CDTextFieldSize - 1) state.item.push_back(c);
                continue;
            }
            const std::string item = TrimRight(state.item);
            if (field >= 0 && state.entry <= CDMaxTracks) {
                auto& slot = block->fields[size_t(state.entry)][size_t(field)];
                std::memcpy(slot.data(), item.data(), item.size());
                slot[item.size()] = '\0';
            }
            state.item.clear();
            ++state.entry;
        }
    }
}

void CDCompactSectors(uint8_t* buffer, int count, int sectorSize) {
    if (!buffer || sectorSize <= CDRawSectorSize) return;
    for (int i = 1; i < count; ++i)
        std::memmove(buffer + int64_t(i) * CDRawSectorSize, buffer + int64_t(i) * sectorSize, CDRawSectorSize);
}

void CDSwapSamples(uint8_t* buffer, int64_t bytes) {
    for (int64_t i = 0; i + 1 < bytes; i += 2) std::swap(buffer[i], buffer[i + 1]);
}

int cdReadSectorsOnce(CDDeviceContext* context, uint8_t* buffer, int64_t bufferSize, int32_t first, int count) {
    if (!context) return CDErrInvalidHandle;
    if (!buffer || count < 1 || count > 255 || first < 0) return CDErrInvalidParam;
    if (context->ioctlMode) {
        if (bufferSize < int64_t(count) * CDRawSectorSize || !context->ioctlDevice) return CDErrInvalidParam;
        wc::CriticalSectionLock hold(context->lock);
        context->rawRead.DiskOffset.QuadPart = int64_t(first) * 2048;
        context->rawRead.SectorCount = uint32_t(count);
        context->rawRead.TrackMode = CDTrackModeCDDA;
        DWORD returned = 0;
        if (!CDCurrentPlatform().IoControl(context->ioctlDevice.get(), IOCTL_CDROM_RAW_READ_CODE, &context->rawRead,
                                           sizeof(context->rawRead), buffer, DWORD(count * CDRawSectorSize),
                                           &returned, nullptr))
            return CDErrRead;
        return 0;
    }
    if (!context->aspiMode) return CDErrNeedsASPI;
    const int64_t bytes = int64_t(count) * context->sectorSize;
    if (bufferSize < bytes) return CDErrInvalidParam;
    CDB cdb;
    switch (context->readMethod) {
    case rmRead10: cdb = CdbRead10(uint32_t(first), uint8_t(count)); break;
    case rmVendorD4: cdb = CdbReadD4(uint32_t(first), uint8_t(count)); break;
    case rmVendorD8: cdb = CdbReadD8(uint32_t(first), uint8_t(count)); break;
    default: cdb = CdbReadCD(uint32_t(first), uint8_t(count)); break;
    }
    const int status = ExecCurrent(*context, cdb, SRB_DIR_IN, buffer, uint32_t(bytes));
    if (status != 0) return status;
    if (context->sectorSize != CDRawSectorSize) CDCompactSectors(buffer, count, context->sectorSize);
    if (context->byteSwap) CDSwapSamples(buffer, int64_t(count) * CDRawSectorSize);
    return 0;
}

int cdReadSectors(CDDeviceContext* context, uint8_t* buffer, int64_t bufferSize, int32_t first, int count) {
    if (!context) return CDErrInvalidHandle;
    if (!buffer || count < 0 || count > 255 || first < 0 || bufferSize < int64_t(count) * context->sectorSize)
        return CDErrInvalidParam;
    const bool temporary = !context->opened;
    if (temporary) {
        const int status = cdOpen(context, false);
        if (status != 0) return status;
    }
    context->busy = true;
    const int32_t end = context->audioEnd;
    if (end - 2 < 0 || int64_t(first) + count >= int64_t(end) - 2) {
        std::memset(buffer, 0, size_t(count) * CDRawSectorSize);
        count = int(std::max<int64_t>(int64_t(end) - first - 2, 0));
    }
    int status = 0;
    if (count > 0) {
        context->abort = false;
        status = CDErrRead;
        for (int attempt = 1; attempt <= kReadAttempts; ++attempt) {
            const int n = attempt == kReadAttempts ? count - 1 : count;
            if (n > 0 && cdReadSectorsOnce(context, buffer, bufferSize, first, n) == 0) {
                status = 0;
                break;
            }
            if (context->firstRead || !context->opened || context->abort) break;
            if (attempt == kReadAttempts - 1) std::memset(buffer, 0, size_t(count) * CDRawSectorSize);
            ::SwitchToThread();
        }
        context->firstRead = false;
    }
    context->busy = false;
    if (temporary) cdClose(context);
    return status;
}

int cdAbort(CDDeviceContext* context) {
    if (context) context->abort = true;
    return 0;
}

int cdGetErrorText(int code, char* buffer, int size) {
    struct Text {
        int code;
        const char* text;
    };
    static const Text texts[] = {
        {0, ""},
        {CDErrNotOpen, "Device not open"},
        {CDErrInvalidHandle, "Invalid Handle"},
        {CDErrInvalidParam, "Invalid param"},
        {CDErrInvalidDevice, "Invalid DeviceID"},
        {CDErrInvalidDeviceId, "Invalid DeviceID"},
        {CDErrAlreadyOpen, "Device already Open"},
        {CDErrNotReady, "Device not ready"},
        {CDErrOpen, "Unable to open device"},
        {CDErrClose, "Unable to close device"},
        {CDErrLoadEject, "Unable to load/eject device"},
        {CDErrStart, "Unable to start device"},
        {CDErrPause, "Unable to pause device"},
        {CDErrRestart, "Unable to restart device"},
        {CDErrStop, "Unable to stop device"},
        {CDErrLock, "Unable to lock/unlock device"},
        {CDErrRead, "Unable to read audio data"},
        {CDErrSync, "Synchronisation failed"},
        {CDErrNoASPILibrary, "Could not load WNASPI32.DLL"},
        {CDErrNoASPIManager, "ASPI-Manager not available"},
        {CDErrNoHostAdapter, "No Host-Adapter available"},
        {CDErrTimeout, "Timeout during ASPI-call"},
    };
    for (const Text& entry : texts)
        if (entry.code == code) {
            CopyText(entry.text, buffer, size);
            return 0;
        }
    CopyText("Unknown error code", buffer, size);
    return CDErrNoMemory;
}

