// Modules and files as Win32 names them: LoadLibraryA over shared objects,
// built-in modules for the DLLs Linux lacks (the TWAIN source manager), the
// Windows directory, and OpenFile in its exist-only mode.
#include <dlfcn.h>
#include <strings.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/linux/user32.h"

namespace kelm::platform {

std::string windows_directory()
{
    const char* dir = std::getenv("KELM3_WINDIR");
    std::string d = dir && *dir ? dir : "/usr/share/kelm3/windows";
    while (d.size() > 1 && d.back() == '/')
        d.pop_back();
    return d;
}

std::string unix_path(const char* path)
{
    std::string p(path ? path : "");
    for (char& ch : p)
        if (ch == '\\')
            ch = '/';
    return p;
}

}  // namespace kelm::platform

namespace {

using kelm::platform::BuiltinModule;

// The built-in module a path names: its file name must be the module's and
// its folder the Windows directory (or none).
const BuiltinModule* builtin_for(const std::string& path)
{
    const BuiltinModule& dsm = kelm::platform::twain_dsm_module();
    std::string::size_type slash = path.rfind('/');
    std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    if (strcasecmp(file.c_str(), dsm.name) != 0)
        return nullptr;
    if (slash == std::string::npos)
        return &dsm;
    std::string dir = path.substr(0, slash);
    return dir == kelm::platform::windows_directory() ? &dsm : nullptr;
}

bool is_builtin(HMODULE h)
{
    return h == static_cast<const void*>(&kelm::platform::twain_dsm_module());
}

bool file_exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

extern "C" {

KELM3_API UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize)
{
    std::string dir = kelm::platform::windows_directory();
    // As Win32: the length without the terminator, or the size needed with it
    // when the buffer is too small.
    if (!lpBuffer || uSize <= dir.size())
        return static_cast<UINT>(dir.size() + 1);
    std::memcpy(lpBuffer, dir.c_str(), dir.size() + 1);
    return static_cast<UINT>(dir.size());
}

KELM3_API HFILE WINAPI OpenFile(LPCSTR lpFileName, LPOFSTRUCT lpReOpenBuff, UINT uStyle)
{
    if (!lpFileName || !lpReOpenBuff)
        return HFILE_ERROR;
    std::memset(lpReOpenBuff, 0, sizeof *lpReOpenBuff);
    lpReOpenBuff->cBytes = sizeof *lpReOpenBuff;
    std::string path = kelm::platform::unix_path(lpFileName);
    std::strncpy(lpReOpenBuff->szPathName, lpFileName, OFS_MAXPATHNAME - 1);
    // Only the exist-only mode: the file is tested and nothing stays open.
    if ((uStyle & OF_EXIST) == 0) {
        lpReOpenBuff->nErrCode = 5;  // ERROR_ACCESS_DENIED
        return HFILE_ERROR;
    }
    if (file_exists(path) || builtin_for(path))
        return 1;
    lpReOpenBuff->nErrCode = 2;  // ERROR_FILE_NOT_FOUND
    return HFILE_ERROR;
}

KELM3_API HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName)
{
    if (!lpLibFileName || !*lpLibFileName)
        return nullptr;
    std::string path = kelm::platform::unix_path(lpLibFileName);
    if (file_exists(path))
        return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (const BuiltinModule* m = builtin_for(path))
        return const_cast<BuiltinModule*>(m);
    return nullptr;
}

KELM3_API FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    if (!hModule || !lpProcName || IS_INTRESOURCE(lpProcName))
        return nullptr;
    if (is_builtin(hModule))
        return static_cast<const BuiltinModule*>(hModule)->lookup(lpProcName);
    return reinterpret_cast<FARPROC>(dlsym(hModule, lpProcName));
}

KELM3_API BOOL WINAPI FreeLibrary(HMODULE hLibModule)
{
    if (!hLibModule)
        return FALSE;
    if (is_builtin(hLibModule))
        return TRUE;
    return dlclose(hLibModule) == 0 ? TRUE : FALSE;
}

}  // extern "C"
