# Cross-build for 64-bit Windows with mingw-w64 (the -posix thread model, which
# GoogleTest needs). The shipped DLL is the 32-bit one; this build runs the same
# sources and API tests against the real Win32 memory, file and resource
# functions on machines that cannot run 32-bit programs. Test programs run
# under 64-bit Wine, through cmake/wine-run.sh --win64, in a 64-bit prefix of
# their own inside the build tree unless KELM3_WINEPREFIX64 names one (a prefix
# is made for one architecture, so it is never shared with the 32-bit build).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_C_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh --win64 ${CMAKE_BINARY_DIR}/wineprefix64)
