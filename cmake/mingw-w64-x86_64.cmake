# Cross-compiles for 64-bit Windows with MinGW-w64 (Debian:
# g++-mingw-w64-x86-64-posix).
set(QUORIL_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
