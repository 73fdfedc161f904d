// The virtual CD-ROM drive: an ASPI manager library for the tests (see
// VirtualDrive.h).
//
// Threads: requests arrive on the caller's thread. A command answered with
// pending completion is carried out by a short-lived thread of its own after
// its delay, as a drive working in the background would: only then is its
// answer written into the caller's buffer and does it take effect (the
// medium lock). The thread holds a reference to this library until it has
// left it. gLock guards gWorld (description, counters, log, medium locks and
// the list of pending requests); a completion thread touches the caller's
// request block and buffer only under gLock and only when the request was
// not aborted, so an aborted request is never written to afterwards.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "aspidrive/VirtualDrive.h"
#include "media/cd/MMSCSI.h"

namespace {

struct Device {
    int adapter = 0, target = 0, lun = 0;
    int type = 5;
    std::string vendor, product;
    bool readCd = true;
    bool bigEndian = false;
    int inquiryLength = 56;
    int blockSize = 2352;
};

struct TocEntry {
    int number = 0, control = 0;
    uint32_t lba = 0;
};

struct Pending {
    SRB_ExecSCSICmd* srb = nullptr;
    bool aborted = false;
    bool done = false;
    DWORD delay = 0;
};

struct World {
    int adapters = 1;
    int supportStatus = SS_COMP;
    std::vector<Device> devices;
    std::vector<TocEntry> toc;
    uint32_t leadout = 0;
    bool tocRawSet = false;
    std::vector<uint8_t> tocRaw;
    std::map<std::pair<int, int>, std::vector<std::string>> cdText;  // (block, type) -> items
    bool cdTextRawSet = false;
    std::vector<uint8_t> cdTextRaw;
    DWORD pendingMs = 0;
    std::map<int, DWORD> delays;  // opcode -> its own completion delay
    std::vector<int> never;
    std::map<int, std::vector<int>> failures;  // opcode -> attempts
    std::map<int, int> attempts;               // opcode -> commands seen
    std::map<int, int> shifts;                 // read number -> bytes
    std::vector<std::pair<int64_t, int64_t>> silence;  // silent stream bytes [from, to)
    int reads = 0;
    int mediumLocks = 0;  // PREVENT MEDIUM REMOVAL carried out, less ALLOW
    std::vector<VirtualDriveLogRecord> log;
    std::vector<std::shared_ptr<Pending>> pending;
};

CRITICAL_SECTION gLock;
World gWorld;

struct LockInit {
    LockInit() { ::InitializeCriticalSection(&gLock); }
    ~LockInit() { ::DeleteCriticalSection(&gLock); }
} gLockInit;

struct Hold {
    Hold() { ::EnterCriticalSection(&gLock); }
    ~Hold() { ::LeaveCriticalSection(&gLock); }
};

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') {
            ++i;
            continue;
        }
        std::string word;
        bool quoted = false;
        while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t' && line[i] != '\r'))) {
            if (line[i] == '"')
                quoted = !quoted;
            else
                word.push_back(line[i]);
            ++i;
        }
        words.push_back(word);
    }
    return words;
}

long Number(const std::string& text) { return std::strtol(text.c_str(), nullptr, 0); }

bool LoadLine(World& world, const std::vector<std::string>& w) {
    if (w.empty()) return true;
    const std::string& key = w[0];
    if (key == "adapters" && w.size() == 2) {
        world.adapters = int(Number(w[1]));
    } else if (key == "supportstatus" && w.size() == 2) {
        world.supportStatus = int(Number(w[1]));
    } else if (key == "device" && w.size() >= 4) {
        Device device;
        device.adapter = int(Number(w[1]));
        device.target = int(Number(w[2]));
        device.lun = int(Number(w[3]));
        for (size_t i = 4; i < w.size(); ++i) {
            const size_t eq = w[i].find('=');
            if (eq == std::string::npos) return false;
            const std::string name = w[i].substr(0, eq), value = w[i].substr(eq + 1);
            if (name == "type") device.type = int(Number(value));
            else if (name == "vendor") device.vendor = value;
            else if (name == "product") device.product = value;
            else if (name == "readcd") device.readCd = Number(value) != 0;
            else if (name == "bigendian") device.bigEndian = Number(value) != 0;
            else if (name == "inquirylength") device.inquiryLength = int(Number(value));
            else return false;
        }
        world.devices.push_back(device);
    } else if (key == "track" && w.size() == 4) {
        world.toc.push_back({int(Number(w[1])), int(Number(w[2])), uint32_t(Number(w[3]))});
    } else if (key == "leadout" && w.size() == 2) {
        world.leadout = uint32_t(Number(w[1]));
    } else if (key == "tocraw" || key == "cdtextraw") {
        std::vector<uint8_t>& bytes = key == "tocraw" ? world.tocRaw : world.cdTextRaw;
        (key == "tocraw" ? world.tocRawSet : world.cdTextRawSet) = true;
        for (size_t i = 1; i < w.size(); ++i) bytes.push_back(uint8_t(std::strtol(w[i].c_str(), nullptr, 16)));
    } else if (key == "cdtext" && w.size() >= 3) {
        auto& items = world.cdText[{int(Number(w[1])), int(Number(w[2]))}];
        for (size_t i = 3; i < w.size(); ++i) items.push_back(w[i]);
    } else if (key == "pending" && w.size() == 2) {
        world.pendingMs = DWORD(Number(w[1]));
    } else if (key == "delay" && w.size() == 3) {
        world.delays[int(Number(w[1]))] = DWORD(Number(w[2]));
    } else if (key == "never" && w.size() == 2) {
        world.never.push_back(int(Number(w[1])));
    } else if (key == "fail" && w.size() == 3) {
        world.failures[int(Number(w[1]))].push_back(int(Number(w[2])));
    } else if (key == "silence" && w.size() == 3) {
        const int64_t first = Number(w[1]), count = Number(w[2]);
        world.silence.push_back({first * 2352, (first + count) * 2352});
    } else if (key == "shift" && w.size() == 3) {
        world.shifts[int(Number(w[1]))] = int(Number(w[2]));
    } else {
        return false;
    }
    return true;
}

Device* FindDevice(World& world, int adapter, int target, int lun) {
    for (auto& device : world.devices)
        if (device.adapter == adapter && device.target == target && device.lun == lun) return &device;
    return nullptr;
}

void PutBE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

std::vector<uint8_t> TocAnswer(const World& world) {
    if (world.tocRawSet) return world.tocRaw;
    std::vector<uint8_t> answer(4, 0);
    auto add = [&](int number, int control, uint32_t lba) {
        uint8_t entry[8] = {0, uint8_t(0x10 | (control & 0x0F)), uint8_t(number), 0};
        PutBE32(entry + 4, lba);
        answer.insert(answer.end(), entry, entry + 8);
    };
    for (const TocEntry& entry : world.toc) add(entry.number, entry.control, entry.lba);
    add(0xAA, 0x04, world.leadout);
    const size_t length = answer.size() - 2;
    answer[0] = uint8_t(length >> 8);
    answer[1] = uint8_t(length);
    answer[2] = world.toc.empty() ? 0 : uint8_t(world.toc.front().number);
    answer[3] = world.toc.empty() ? 0 : uint8_t(world.toc.back().number);
    return answer;
}

std::vector<uint8_t> CDTextAnswer(const World& world) {
    if (world.cdTextRawSet) return world.cdTextRaw;
    std::vector<uint8_t> answer(4, 0);
    int sequence = 0;
    for (const auto& [key, items] : world.cdText) {
        const auto [block, type] = key;
        std::string text;
        for (const std::string& item : items) text += item + '\0';
        for (size_t at = 0; at < text.size(); at += 12) {
            uint8_t pack[18] = {uint8_t(type), 0, uint8_t(sequence++), uint8_t((block & 7) << 4)};
            std::memcpy(pack + 4, text.data() + at, std::min<size_t>(12, text.size() - at));
            answer.insert(answer.end(), pack, pack + 18);
        }
    }
    const size_t length = answer.size() - 2;
    answer[0] = uint8_t(length >> 8);
    answer[1] = uint8_t(length);
    return answer;
}

void CheckCondition(SRB_ExecSCSICmd* srb) {
    srb->SRB_TargStat = 0x02;
    std::memset(srb->SenseArea, 0, sizeof(srb->SenseArea));
    srb->SenseArea[0] = 0x70;
    srb->SenseArea[2] = 0x05;   // illegal request
    srb->SenseArea[7] = 0x0A;
    srb->SenseArea[12] = 0x20;  // invalid command operation code
}

void CopyOut(SRB_ExecSCSICmd* srb, const std::vector<uint8_t>& answer) {
    if (srb->SRB_BufPointer) std::memcpy(srb->SRB_BufPointer, answer.data(), std::min<size_t>(answer.size(), srb->SRB_BufLen));
}

// Carries out a command; answers the final status.
uint8_t Run(World& world, Device& device, SRB_ExecSCSICmd* srb) {
    const uint8_t* cdb = srb->CDBByte;
    const int opcode = cdb[0];
    const int attempt = ++world.attempts[opcode];
    for (int failing : world.failures[opcode])
        if (failing == attempt) {
            CheckCondition(srb);
            return SS_ERR;
        }
    switch (opcode) {
    case 0x12: {
        std::vector<uint8_t> answer(56, 0);
        answer[0] = uint8_t(device.type);
        answer[1] = 0x80;
        answer[2] = 0x02;
        answer[3] = 0x02;
        answer[4] = 31;
        std::string vendor = device.vendor, product = device.product;
        vendor.resize(8, ' ');
        product.resize(16, ' ');
        std::memcpy(&answer[8], vendor.data(), 8);
        std::memcpy(&answer[16], product.data(), 16);
        std::memcpy(&answer[32], "1.00", 4);
        answer.resize(size_t(std::clamp(device.inquiryLength, 0, 56)));
        CopyOut(srb, answer);
        return SS_COMP;
    }
    case 0x15: {
        if (srb->SRB_BufLen >= 12 && srb->SRB_BufPointer) {
            const uint8_t* list = srb->SRB_BufPointer;
            const int length = (list[9] << 16) | (list[10] << 8) | list[11];
            device.blockSize = (list[4] == 0x82 && length == 2368) ? 2368 : 2352;
        }
        return SS_COMP;
    }
    case 0x43: {
        const int format = cdb[2] & 0x0F;
        const size_t allocation = size_t((cdb[7] << 8) | cdb[8]);
        std::vector<uint8_t> answer = format == 5 ? CDTextAnswer(world) : TocAnswer(world);
        if (answer.size() > allocation) answer.resize(allocation);
        CopyOut(srb, answer);
        return SS_COMP;
    }
    case 0x28:
    case 0xD4:
    case 0xD8:
    case 0xBE: {
        if (opcode == 0xBE && !device.readCd) {
            CheckCondition(srb);
            return SS_ERR;
        }
        const uint32_t lba = (uint32_t(cdb[2]) << 24) | (cdb[3] << 16) | (cdb[4] << 8) | cdb[5];
        const int count = opcode == 0xD8 ? cdb[9] : cdb[8];
        const int read = ++world.reads;
        const int shift = world.shifts.count(read) ? world.shifts[read] : 0;
        // READ CD always answers 2352-byte sectors; the others the selected block size.
        const int blockSize = opcode == 0xBE ? 2352 : device.blockSize;
        std::vector<uint8_t> answer(size_t(count) * size_t(blockSize), 0xEE);
        for (int s = 0; s < count; ++s) {
            uint8_t* sector = &answer[size_t(s) * size_t(blockSize)];
            const int64_t base = (int64_t(lba) + s) * 2352 + shift;
            for (int k = 0; k < 2352; ++k) sector[k] = VirtualDiscByte(base + k);
            for (const auto& [from, to] : world.silence)
                for (int64_t p = std::max(from, base); p < std::min(to, base + 2352); ++p) sector[p - base] = 0;
            if (device.bigEndian)
                for (int k = 0; k + 1 < 2352; k += 2) std::swap(sector[k], sector[k + 1]);
        }
        CopyOut(srb, answer);
        return SS_COMP;
    }
    case 0x1E:
        // Allowing removal of a medium that is not locked changes nothing.
        if (cdb[4] & 0x01)
            ++world.mediumLocks;
        else if (world.mediumLocks > 0)
            --world.mediumLocks;
        return SS_COMP;
    case 0xBB:
        return SS_COMP;
    default:
        CheckCondition(srb);
        return SS_ERR;
    }
}

void Complete(std::shared_ptr<Pending> pending) {
    ::Sleep(pending->delay);
    Hold hold;
    if (pending->aborted || pending->done) return;
    pending->done = true;
    SRB_ExecSCSICmd* srb = pending->srb;
    Device* device = FindDevice(gWorld, srb->SRB_HaId, srb->SRB_Target, srb->SRB_Lun);
    const uint8_t status = device ? Run(gWorld, *device, srb) : SS_NO_DEVICE;
    HANDLE event = static_cast<HANDLE>(srb->SRB_PostProc);
    const bool notify = (srb->SRB_Flags & SRB_EVENT_NOTIFY) != 0;
    srb->SRB_Status = status;
    if (notify && event) ::SetEvent(event);
}

// A completion thread keeps this library loaded until it has left it: a test
// that frees the library while a completion is still asleep must not pull
// the code from under it.
struct Completion {
    std::shared_ptr<Pending> pending;
    HMODULE self = nullptr;
};

DWORD WINAPI CompleteLater(void* parameter) {
    HMODULE self = nullptr;
    {
        std::unique_ptr<Completion> completion(static_cast<Completion*>(parameter));
        self = completion->self;
        Complete(completion->pending);
    }
    ::FreeLibraryAndExitThread(self, 0);
}

DWORD Execute(SRB_ExecSCSICmd* srb) {
    Hold hold;
    World& world = gWorld;
    VirtualDriveLogRecord record{};
    record.adapter = srb->SRB_HaId;
    record.target = srb->SRB_Target;
    record.lun = srb->SRB_Lun;
    record.cdbLength = srb->SRB_CDBLen;
    std::memcpy(record.cdb, srb->CDBByte, std::min<size_t>(srb->SRB_CDBLen, 16));
    record.flags = srb->SRB_Flags;
    record.length = srb->SRB_BufLen;
    if ((srb->SRB_Flags & SRB_DIR_OUT) && srb->SRB_BufPointer)
        std::memcpy(record.dataOut, srb->SRB_BufPointer, std::min<size_t>(srb->SRB_BufLen, 16));
    world.log.push_back(record);

    if (srb->SRB_HaId >= world.adapters) return srb->SRB_Status = SS_INVALID_HA;
    Device* device = FindDevice(world, srb->SRB_HaId, srb->SRB_Target, srb->SRB_Lun);
    if (!device) return srb->SRB_Status = SS_NO_DEVICE;
    const bool notify = (srb->SRB_Flags & SRB_EVENT_NOTIFY) != 0;
    const int opcode = srb->CDBByte[0];
    const bool never = std::find(world.never.begin(), world.never.end(), opcode) != world.never.end();
    const DWORD delay = world.delays.count(opcode) ? world.delays[opcode] : world.pendingMs;
    if (never || delay > 0) {
        auto pending = std::make_shared<Pending>();
        pending->srb = srb;
        pending->delay = delay;
        // Finished requests need no record any more.
        world.pending.erase(std::remove_if(world.pending.begin(), world.pending.end(),
                                           [](const auto& p) { return p->done || p->aborted; }),
                            world.pending.end());
        world.pending.push_back(pending);
        srb->SRB_Status = SS_PENDING;
        if (!never) {
            auto completion = std::make_unique<Completion>();
            completion->pending = pending;
            if (::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                     reinterpret_cast<LPCSTR>(reinterpret_cast<void*>(&CompleteLater)),
                                     &completion->self)) {
                HANDLE thread = ::CreateThread(nullptr, 0, CompleteLater, completion.get(), 0, nullptr);
                if (thread) {
                    completion.release();
                    ::CloseHandle(thread);
                } else {
                    ::FreeLibrary(completion->self);
                }
            }
        }
        return SS_PENDING;
    }
    const uint8_t status = Run(world, *device, srb);
    srb->SRB_Status = status;
    if (notify && srb->SRB_PostProc) ::SetEvent(static_cast<HANDLE>(srb->SRB_PostProc));
    return status;
}

}  // namespace

extern "C" __declspec(dllexport) DWORD __cdecl GetASPI32SupportInfo() {
    Hold hold;
    return (DWORD(gWorld.supportStatus & 0xFF) << 8) | DWORD(gWorld.adapters & 0xFF);
}

extern "C" __declspec(dllexport) DWORD __cdecl SendASPI32Command(void* request) {
    if (!request) return SS_INVALID_CMD;
    auto* header = static_cast<SRB_Header*>(request);
    switch (header->SRB_Cmd) {
    case SC_HA_INQUIRY: {
        Hold hold;
        auto* srb = static_cast<SRB_HAInquiry*>(request);
        if (srb->SRB_HaId >= gWorld.adapters) return srb->SRB_Status = SS_INVALID_HA;
        srb->HA_Count = uint8_t(gWorld.adapters);
        srb->HA_SCSI_ID = 7;
        std::memcpy(srb->HA_ManagerId, "VIRTUAL ASPI    ", 16);
        std::memcpy(srb->HA_Identifier, "Virtual Adapter ", 16);
        return srb->SRB_Status = SS_COMP;
    }
    case SC_GET_DEV_TYPE: {
        Hold hold;
        auto* srb = static_cast<SRB_GDEVBlock*>(request);
        Device* device = FindDevice(gWorld, srb->SRB_HaId, srb->SRB_Target, srb->SRB_Lun);
        if (!device) return srb->SRB_Status = SS_NO_DEVICE;
        srb->SRB_DeviceType = uint8_t(device->type);
        return srb->SRB_Status = SS_COMP;
    }
    case SC_EXEC_SCSI_CMD:
        return Execute(static_cast<SRB_ExecSCSICmd*>(request));
    case SC_ABORT_SRB: {
        Hold hold;
        auto* srb = static_cast<SRB_Abort*>(request);
        for (auto& pending : gWorld.pending)
            if (pending->srb == srb->SRB_ToAbort && !pending->done && !pending->aborted) {
                pending->aborted = true;
                pending->srb->SRB_Status = SS_ABORTED;
            }
        return srb->SRB_Status = SS_COMP;
    }
    default:
        header->SRB_Status = SS_INVALID_CMD;
        return SS_INVALID_CMD;
    }
}

extern "C" __declspec(dllexport) int __cdecl VirtualDriveLoad(const char* description) {
    World world;
    std::istringstream lines(description ? description : "");
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (!LoadLine(world, Words(line))) return number;
    }
    Hold hold;
    // Requests still pending keep their records; none of them is completed any more.
    for (auto& pending : gWorld.pending) pending->aborted = true;
    gWorld = std::move(world);
    return 0;
}

extern "C" __declspec(dllexport) int __cdecl VirtualDriveLogCount() {
    Hold hold;
    return int(gWorld.log.size());
}

extern "C" __declspec(dllexport) int __cdecl VirtualDriveMediumLocks() {
    Hold hold;
    return gWorld.mediumLocks;
}

extern "C" __declspec(dllexport) int __cdecl VirtualDriveLogEntry(int index, VirtualDriveLogRecord* record) {
    Hold hold;
    if (!record || index < 0 || index >= int(gWorld.log.size())) return -1;
    *record = gWorld.log[size_t(index)];
    return 0;
}
