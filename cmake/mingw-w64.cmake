# Cross build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64).
# The -posix compilers are needed: the win32 thread model has no std::thread.
# Everything is linked statically, so the programs need no mingw DLLs and run
# under wine (or on a Windows PC) as they are.
#
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         -DMVX_BUILD_QT=OFF -DMVX_BUILD_BENCH=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MVX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MVX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MVX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MVX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MVX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Header-only libraries of the host that the target can use as they are.
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/cross/nlohmann_json)

# CTest runs the test programs (and GoogleTest's discovery) through wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
