# Cross build for 64-bit Windows (x86_64): the test build on machines whose
# kernel runs no 32-bit code (see scripts/env.sh).
set(WC_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
