# Cross build for 32-bit Windows (i686): pointers and handles of 32 bits,
# long of 32 bits as on 64-bit Windows. Tests run on Wine's 32-bit side.
set(KV_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
