# Cross-compiles 32-bit Windows binaries (the product) with MinGW-w64.
set(ZV_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
