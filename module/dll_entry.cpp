// The DLL entry of the Windows module. The module links no C runtime, so
// there is no runtime start-up or shut-down to run: the entry only reports
// success for every reason it is called with.
#include <windows.h>

extern "C" BOOL WINAPI DllEntry(HINSTANCE, DWORD, LPVOID) { return TRUE; }
