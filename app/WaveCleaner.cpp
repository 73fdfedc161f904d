// Program entry: the application object, the main window, the message loop.
#include <windows.h>

#include "app/Unit1.h"
#include "controls/AdvGDIP.h"
#include "dialogs/MMCstDlg.h"
#include "framework/Forms.h"
#include "media/codecs/MMACM.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Start-up in order, shut-down in reverse (by destruction): the media
    // units' codec manager binding, then GDI+ for the buttons, which is shut
    // down after the forms are gone.
    const AcmScope acmBinding;
    TGdiplusSession gdiplus;
    wc::TApplication& application = wc::Application();
    try {
        RegisterCommonDialogMessages();
        application.Initialize();
        application.SetTitle("Wave Cleaner");
        application.CreateForm<TForm1>();
        application.Run();
    } catch (const std::exception& error) {
        application.HandleException(error);
    }
    application.DestroyForms();
    return 0;
}
