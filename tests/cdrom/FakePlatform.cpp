#include "FakePlatform.h"

#include <cstring>

namespace {

FakePlatform* gFake = nullptr;

DWORD __cdecl FakeSend(void* srb) { return gFake && gFake->send ? gFake->send(srb) : 0; }
DWORD __cdecl FakeSupportInfo() { return gFake && gFake->supportInfo ? gFake->supportInfo() : 0; }

}  // namespace

FakePlatform::FakePlatform() { gFake = this; }
FakePlatform::~FakePlatform() { gFake = nullptr; }

UINT FakePlatform::ErrorMode(UINT mode) {
    const UINT previous = errorMode;
    errorMode = mode;
    return previous;
}

HMODULE FakePlatform::LoadLib(const char* name) {
    loads.emplace_back(name, errorMode);
    if (!libraries.count(name)) return nullptr;
    moduleNames_.push_back(name);
    // Distinct values that are no module of the process.
    HMODULE module = reinterpret_cast<HMODULE>(uintptr_t(0x7000 + 0x10 * moduleNames_.size()));
    modules_.push_back(module);
    return module;
}

FARPROC FakePlatform::GetProc(HMODULE module, const char* name) {
    procsAsked.push_back(name);
    for (size_t i = 0; i < modules_.size(); ++i) {
        if (modules_[i] != module) continue;
        for (const std::string& entry : libraries[moduleNames_[i]])
            if (entry == name) {
                const bool isSend = std::string(name).rfind("Send", 0) == 0;
                return isSend ? reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeSend))
                              : reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeSupportInfo));
            }
    }
    return nullptr;
}

void FakePlatform::FreeLib(HMODULE module) {
    for (size_t i = 0; i < modules_.size(); ++i)
        if (modules_[i] == module) freed.push_back(moduleNames_[i]);
}

HANDLE FakePlatform::OpenDevice(const char* name, DWORD access, DWORD, DWORD) {
    opens.emplace_back(name, access);
    auto found = devices.find(name);
    if (found == devices.end() || found->second < 0) {
        lastError_ = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    if (found->second > 0) {
        --found->second;
        lastError_ = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    // A real handle, which the layer owns and closes.
    HANDLE handle = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    handleNames[handle] = name;
    return handle;
}

BOOL FakePlatform::IoControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                             DWORD* returned, OVERLAPPED* overlapped) {
    IoCall call{device, code, {}, outSize, overlapped != nullptr};
    if (in && inSize) call.in.assign(static_cast<uint8_t*>(in), static_cast<uint8_t*>(in) + inSize);
    ioCalls.push_back(call);
    auto handler = handlers.find(code);
    DWORD got = 0, error = 0;
    BOOL ok = FALSE;
    if (handler == handlers.end())
        error = ERROR_INVALID_FUNCTION;
    else
        ok = handler->second(call, in, out, got, error);
    if (returned) *returned = got;
    if (overlapped && pendingOverlapped) {
        pendingResult_ = ok;
        pendingError_ = error;
        lastError_ = ERROR_IO_PENDING;
        return FALSE;
    }
    lastError_ = ok ? 0 : error;
    return ok;
}

BOOL FakePlatform::OverlappedResult(HANDLE, OVERLAPPED*, DWORD* transferred, BOOL) {
    if (completionGate) {
        const HANDLE ends[] = {completionGate, cancelled_.get()};
        ::WaitForMultipleObjects(2, ends, FALSE, 10000);
    }
    if (transferred) *transferred = 0;
    const bool cancelled = ::WaitForSingleObject(cancelled_.get(), 0) == WAIT_OBJECT_0;
    if (!cancelled && lateWrite) lateWrite();
    if (completed) ::SetEvent(completed);
    lastError_ = cancelled ? ERROR_OPERATION_ABORTED : pendingError_;
    return cancelled ? FALSE : pendingResult_;
}

BOOL FakePlatform::CancelRequest(HANDLE, OVERLAPPED*) {
    ++cancels;
    ::SetEvent(cancelled_.get());
    return TRUE;
}

BOOL FakePlatform::CancelThreadRequest(HANDLE) {
    ::SetEvent(threadCancelled.get());
    return TRUE;
}

UINT FakePlatform::DriveType(const char* root) {
    auto found = driveTypes.find(root[0]);
    return found == driveTypes.end() ? DRIVE_NO_ROOT_DIR : found->second;
}

DWORD FakePlatform::DosDevice(const char* name, char* target, DWORD size) {
    auto found = dosDevices.find(name ? name : "");
    if (found == dosDevices.end() || found->second.size() + 2 > size) return 0;
    std::memcpy(target, found->second.data(), found->second.size());
    target[found->second.size()] = 0;
    target[found->second.size() + 1] = 0;
    return DWORD(found->second.size() + 2);
}

bool FakePlatform::RegReadBinary(HKEY, const std::string& key, const std::string& value, std::vector<uint8_t>& data) {
    auto found = binaryValues.find(key + "|" + value);
    if (found == binaryValues.end()) return false;
    data = found->second;
    return true;
}

bool FakePlatform::RegReadString(HKEY, const std::string& key, const std::string& value, std::string& text) {
    auto found = stringValues.find(key + "|" + value);
    if (found == stringValues.end()) return false;
    text = found->second;
    return true;
}

bool FakePlatform::RegEnumKey(HKEY, const std::string& key, DWORD index, std::string& name) {
    auto found = subkeys.find(key);
    if (found == subkeys.end() || index >= found->second.size()) return false;
    name = found->second[index];
    return true;
}

DWORD FakePlatform::MciSendString(const std::string& command, std::string& answer) {
    mciCommands.push_back(command);
    auto error = mciErrors.find(command);
    if (error != mciErrors.end()) return error->second;
    auto found = mciAnswers.find(command);
    answer = found == mciAnswers.end() ? "" : found->second;
    return 0;
}
