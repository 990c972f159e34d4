// The program's entry on Windows. The command line and the other arguments have no
// effect; every run ends with exit code 0.
#include <windows.h>

#include "run/front_end.h"
#include "run/run_flow.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const char* closingMessage = RunFlow();
    if (closingMessage == nullptr)
        return 0;
    ShowResultAndExit(closingMessage);
}
