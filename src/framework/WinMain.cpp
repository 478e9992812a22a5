// The program's entry point: runs the one application object.
#include "WinApp.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    CWinApp* app = AfxGetApp();
    if (!app)
        return -1;
    if (!app->InitInstance())
        return app->ExitInstance();
    // An application that keeps running after InitInstance pumps messages until WM_QUIT.
    while (app->PumpMessage()) {
    }
    return app->ExitInstance();
}
