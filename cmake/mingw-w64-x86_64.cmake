# Cross build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64-posix): the
# posix thread model, so that std::thread and friends are there.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VELMORIN_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELMORIN_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELMORIN_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${VELMORIN_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VELMORIN_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
