# 32-bit Windows: the module users ship; built and checked, a small group run through scripts/wine32.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
set(DORVEX_WIDL_FLAGS --win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
