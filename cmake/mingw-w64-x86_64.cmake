# 64-bit Windows: not shipped; compiled with warnings as errors and its tests run on every machine (the only
# Windows build that runs where the kernel starts no 32-bit program).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
