// Load-time state of the library, set by the platform's entry point.
#include "platform/platform.h"

namespace kelm {

LibraryState g_state{};

void library_attach(HINSTANCE hInstance)
{
    g_state.hInstance = hInstance;
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    g_state.processorFlag = info.dwProcessorType != PROCESSOR_INTEL_386 ? 1 : 0;
}

}  // namespace kelm
