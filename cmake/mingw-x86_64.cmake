# Cross-compiles the same sources as 64-bit Windows binaries, for running the
# tests on machines whose kernel cannot start 32-bit processes (Wine's 32-bit
# loader is a 32-bit Linux program).
set(ZV_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
