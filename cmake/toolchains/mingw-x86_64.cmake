# 64-bit Windows (x64): the agent side and the desktop suites, tested under 64-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(OM_MINGW_TRIPLE x86_64-w64-mingw32)
set(OM_WINE_ARCH 64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
