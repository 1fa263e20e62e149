// The user-interface and module parts of our Win32 subset (windows, messages,
// message boxes, strings, modules) as the library sees them, and the hooks
// the built-in modules and tests use.
#pragma once

#include <string>

#include "kelm3_win32_user.h"

namespace kelm::platform {

// The library's own string table (ids of the TWAIN error texts), or null.
const char* library_string(UINT id);

// A module the library supplies itself, answering LoadLibraryA of
// "<Windows directory>\<name>" when no real file is there.
struct BuiltinModule {
    const char* name;                       // file name, matched without case
    FARPROC (*lookup)(const char* symbol);  // its exports
};
// The built-in source manager TWAIN_32.DLL (twain_dsm.cpp).
const BuiltinModule& twain_dsm_module();

// The Windows directory as a Unix path, without a trailing slash.
std::string windows_directory();
// A Win32 path as a Unix one: backslashes become slashes.
std::string unix_path(const char* path);

}  // namespace kelm::platform
