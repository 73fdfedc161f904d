#include "framework/Threads.h"

#include <atomic>
#include <exception>
#include <mutex>

#include "framework/Exceptions.h"

namespace wc {
namespace {

constexpr UINT WM_SYNCHRONIZE = WM_APP + 0x5C;
constexpr char kSyncWindowClass[] = "WcSynchronizeWindow";

struct SyncCall {
    const std::function<void()>* call;
    std::exception_ptr error;
};

LRESULT CALLBACK SyncWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SYNCHRONIZE) {
        auto* sync = reinterpret_cast<SyncCall*>(lParam);
        try {
            (*sync->call)();
        } catch (...) {
            sync->error = std::current_exception();
        }
        return 1;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

std::once_flag mainThreadOnce;
std::atomic<DWORD> mainThreadId{0};
std::atomic<HWND> syncWindow{nullptr};

// The program's start-up thread is the main thread: static initialisation
// runs on it.
const bool initialisedAtStartup = (InitMainThread(), true);

}  // namespace

void InitMainThread() {
    std::call_once(mainThreadOnce, [] {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = SyncWindowProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = kSyncWindowClass;
        RegisterClassA(&windowClass);
        syncWindow.store(CreateWindowExA(0, kSyncWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                         windowClass.hInstance, nullptr));
        mainThreadId.store(GetCurrentThreadId());
    });
}

DWORD MainThreadId() { return mainThreadId.load(); }

bool IsMainThread() { return mainThreadId.load() != 0 && GetCurrentThreadId() == mainThreadId.load(); }

void Synchronize(const std::function<void()>& call) {
    (void)initialisedAtStartup;
    if (!call) return;
    InitMainThread();
    const HWND window = syncWindow.load();
    if (IsMainThread() || !window) {
        call();
        return;
    }
    SyncCall sync{&call, nullptr};
    if (!SendMessageA(window, WM_SYNCHRONIZE, 0, reinterpret_cast<LPARAM>(&sync)))
        throw EOSError("SendMessage", GetLastError());
    if (sync.error) std::rethrow_exception(sync.error);
}

}  // namespace wc
