// The process's entry point: the program's whole life, then exit code 0.
#include <windows.h>

#include "app/program.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    glyphmend_run();
    ExitProcess(0);
}
