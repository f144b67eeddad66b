# 64-bit Windows: everything is built and its tests run under Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(DORVEX_WIDL_FLAGS --win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
