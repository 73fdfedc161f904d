// Program entry: the application object, the main window, the message loop.
#include <windows.h>

#include "app/Unit1.h"
#include "controls/AdvGDIP.h"
#include "dialogs/MMCstDlg.h"
#include "framework/Forms.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // GDI+ for the whole run: the buttons draw with it; shut down after the forms are gone.
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
