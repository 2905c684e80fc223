// Windows: the entry point of every library built from this code. Loading and unloading need no
// work of ours (static objects are handled by the run-time library), and nothing is logged here:
// the loader lock is held.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
