# Shared part of the MinGW-w64 toolchain files; ZV_TRIPLE names the target.
# The POSIX-thread compilers are required: the win32-thread variant lacks
# std::mutex and cannot build GoogleTest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${ZV_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZV_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZV_TRIPLE}-windres)

set(ZV_DEPS_PREFIX "/opt/zorvanix-deps/${ZV_TRIPLE}" CACHE PATH "Where the bootstrap installs GoogleTest and minizip")
set(CMAKE_FIND_ROOT_PATH /usr/${ZV_TRIPLE} ${ZV_DEPS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
