// The DLL entry point: every reason code stores the module handle and the
// processor flag; nothing is released at unload.
#include "platform/platform.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD /*reason*/, LPVOID /*reserved*/)
{
    kelm::library_attach(hInstance);
    return TRUE;
}
