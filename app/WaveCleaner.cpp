// Program entry: the application object, the main window, the message loop.
#include <windows.h>

#include "app/Unit1.h"
#include "dialogs/MMCstDlg.h"
#include "framework/Forms.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
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
