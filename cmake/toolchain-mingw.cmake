# Cross build for Windows with mingw-w64's POSIX-thread compilers; included by
# the toolchain files of the two architectures, which set WC_TRIPLE and
# CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER   ${WC_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${WC_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${WC_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${WC_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Every target executable runs under Wine through this wrapper (prefix inside the build folder).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
