// The binding of the decoder library: the two refusals shown in message
// boxes, and a later attempt that succeeds.
#include "MpegFixtures.h"

#include "framework/Files.h"
#include "media/MMErrors.h"
#include "support/DialogDriver.h"
#include "support/TestSupport.h"

namespace mpeg_tests {
namespace {

using namespace testing_support;

// The text of the message box `action` shows (pressing its OK button), or "(no box)".
std::wstring BoxWhile(const std::function<void()>& action) {
    std::wstring text = L"(no box)";
    RunDriven([&] { action(); return true; }, [&](HWND box) {
        text = MessageBoxText(box);
        PressOk(box);
    });
    return text;
}

TEST(MpegBindingTest, MissingAndOutdatedLibrariesAreReportedAndLaterAttemptsRetry) {
    bool bound = true;
    EXPECT_EQ(BoxWhile([&] { bound = BindMpegLibrary("MMMPEG_MISSING.DLL"); }), L"Unable to load MMMPEG32.DLL");
    EXPECT_FALSE(bound);
    EXPECT_EQ(MpegLibrary().mpeg_Init, nullptr);
    bound = true;
    EXPECT_EQ(BoxWhile([&] { bound = BindMpegLibrary("MMMPEG24.DLL"); }), L"Invalid Mpeg Decoder DLL version");
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
    std::string error;
    std::wstring text;
    {
        LibraryHidden hidden;
        ASSERT_TRUE(hidden.moved()) << "MMMPEG32.DLL could not be moved aside";
        text = BoxWhile([&] { error = ErrorText<EMMMpegError>([] { TMMMpeg mpeg; }); });
    }
    EXPECT_EQ(text, L"Unable to load MMMPEG32.DLL");
    EXPECT_EQ(error, "Unable to load MMMPEG32.DLL");
    // Back beside the program: the next attempt binds it.
    EXPECT_TRUE(MpegLibraryAvailable());
}

}  // namespace
}  // namespace mpeg_tests
