# 32-bit Windows (x86): the desktop side, tested under 32-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR X86)
set(OM_MINGW_TRIPLE i686-w64-mingw32)
set(OM_WINE_ARCH 32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
