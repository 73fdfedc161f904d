// The binding of the decoder library: the two refusals shown in message
// boxes, and a later attempt that succeeds.
#include "MpegFixtures.h"

#include <atomic>
#include <thread>

#include "framework/Files.h"
#include "media/MMErrors.h"
#include "support/TestSupport.h"

namespace mpeg_tests {
namespace {

using namespace testing_support;

// Binds `name` on a worker and returns the text of the message box it shows
// (pressing its OK button), or "(no box)".
std::wstring BoxWhileBinding(const char* name, bool& bound) {
    std::atomic<bool> done{false};
    std::atomic<bool> result{false};
    std::thread binder([&] {
        result = BindMpegLibrary(name);
        done = true;
    });
    std::wstring text = L"(no box)";
    const HWND box = WaitFor([&]() -> HWND {
        if (done) return HWND(1);
        return FindTopWindow(::GetCurrentProcessId(), L"#32770", L"");
    });
    if (box && box != HWND(1)) {
        text = MessageBoxText(box);
        PressOk(box);
    }
    binder.join();
    bound = result;
    return text;
}

TEST(MpegBindingTest, MissingAndOutdatedLibrariesAreReportedAndLaterAttemptsRetry) {
    bool bound = true;
    EXPECT_EQ(BoxWhileBinding("MMMPEG_MISSING.DLL", bound), L"Unable to load MMMPEG32.DLL");
    EXPECT_FALSE(bound);
    EXPECT_EQ(MpegLibrary().mpeg_Init, nullptr);
    bound = true;
    EXPECT_EQ(BoxWhileBinding("MMMPEG24.DLL", bound), L"Invalid Mpeg Decoder DLL version");
    EXPECT_FALSE(bound);
    EXPECT_EQ(MpegLibrary().mpeg_Version, nullptr) << "the outdated library is freed";
    EXPECT_EQ(::GetModuleHandleA("MMMPEG24.DLL"), nullptr);
    // The next need binds the real library.
    EXPECT_TRUE(MpegLibraryAvailable());
    EXPECT_EQ(MpegLibrary().mpeg_Version(), 25);
    TMMMpeg mpeg;
    EXPECT_TRUE(mpeg.IsEmpty());
}

// Moves the library beside the program aside while it lives.
class LibraryHidden {
public:
    LibraryHidden() {
        FreeMpegLibrary();
        // Back under the very name it had: the host's file names keep their case.
        WIN32_FIND_DATAA found{};
        const HANDLE search = ::FindFirstFileA(path_.c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return;
        ::FindClose(search);
        path_ = ProgramDir() + "\\" + found.cFileName;
        moved_ = ::MoveFileA(path_.c_str(), aside_.c_str()) != FALSE;
    }
    ~LibraryHidden() {
        if (moved_) ::MoveFileA(aside_.c_str(), path_.c_str());
    }
    bool moved() const { return moved_; }

private:
    std::string path_ = ProgramDir() + "\\MMMPEG32.DLL";
    std::string aside_ = ProgramDir() + "\\MMMPEG32.DLL.aside";
    bool moved_ = false;
};

TEST(MpegBindingTest, WithoutTheLibraryAnMpegObjectCannotBeMade) {
    std::string error = "(no error)";
    std::wstring text = L"(no box)";
    {
        LibraryHidden hidden;
        ASSERT_TRUE(hidden.moved()) << "MMMPEG32.DLL could not be moved aside";
        std::atomic<bool> done{false};
        std::thread maker([&] {
            try {
                TMMMpeg mpeg;
            } catch (const EMMMpegError& e) {
                error = e.what();
            }
            done = true;
        });
        const HWND box = WaitFor([&]() -> HWND {
            if (done) return HWND(1);
            return FindTopWindow(::GetCurrentProcessId(), L"#32770", L"");
        });
        if (box && box != HWND(1)) {
            text = MessageBoxText(box);
            PressOk(box);
        }
        maker.join();
    }
    EXPECT_EQ(text, L"Unable to load MMMPEG32.DLL");
    EXPECT_EQ(error, "Unable to load MMMPEG32.DLL");
    // Back beside the program: the next attempt binds it.
    EXPECT_TRUE(MpegLibraryAvailable());
}

}  // namespace
}  // namespace mpeg_tests
