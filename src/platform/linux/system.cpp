// System information and the load-time hook of the Linux build.
#include <dlfcn.h>
#include <unistd.h>

#include <cstring>

#include "platform/platform.h"

extern "C" void WINAPI GetSystemInfo(LPSYSTEM_INFO lpSystemInfo)
{
    std::memset(lpSystemInfo, 0, sizeof *lpSystemInfo);
    long page = sysconf(_SC_PAGESIZE);
    lpSystemInfo->dwPageSize = page > 0 ? static_cast<DWORD>(page) : 4096;
    lpSystemInfo->dwAllocationGranularity = 65536;
    long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    lpSystemInfo->dwNumberOfProcessors = cpus > 0 ? static_cast<DWORD>(cpus) : 1;
    // Every processor this build runs on is at least a Pentium.
    lpSystemInfo->dwProcessorType = PROCESSOR_INTEL_PENTIUM;
    lpSystemInfo->wProcessorLevel = 6;
}

namespace {

// The shared object's counterpart of DllMain: runs when the library is loaded.
// The module handle is the base address of the loaded object.
__attribute__((constructor)) void on_load()
{
    Dl_info info{};
    HINSTANCE self = nullptr;
    if (dladdr(reinterpret_cast<const void*>(&on_load), &info) != 0)
        self = info.dli_fbase;
    kelm::library_attach(self);
}

}  // namespace
