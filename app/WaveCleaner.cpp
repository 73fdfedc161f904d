// Program entry: the application object, the main window, the message loop.
#include <windows.h>

#include "app/Unit1.h"
#include "framework/Forms.h"
#include "media/MMACM.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Media units: the codec manager is bound for the life of the program.
    const AcmScope acmBinding;
    wc::TApplication& application = wc::Application();
    try {
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
