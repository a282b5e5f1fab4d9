# Cross-builds meshwright.exe for 64-bit Windows with Debian's mingw-w64
# (package g++-mingw-w64-x86-64-posix: its POSIX thread model gives
# std::thread), linked statically so that the program runs on its own, and
# runs the tests under Wine (package wine64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Wine's own messages would mix with what the tests read. Its prefix (the
# Windows it makes) stays inside the build folder, not in the home folder.
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix /usr/lib/wine/wine64)
set(MESHWRIGHT_WINESERVER env WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix /usr/lib/wine/wineserver)
