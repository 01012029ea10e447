# 64-bit Windows: kept compiling (with warnings as errors), not shipped or run.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
