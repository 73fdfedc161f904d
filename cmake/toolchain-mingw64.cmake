# Cross build for 64-bit Windows (x86_64) with mingw-w64's POSIX-thread compilers: the test build
# on machines whose kernel runs no 32-bit code (see scripts/env.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(WC_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${WC_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${WC_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${WC_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${WC_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Every target executable runs under Wine through this wrapper (prefix inside the build folder).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
