# What both cross builds share: the mingw-w64 tools for the processor the
# including toolchain file names, and its libraries and headers only.
set(CMAKE_SYSTEM_NAME Windows)
set(TOOLPREFIX ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${TOOLPREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${TOOLPREFIX}-g++)
set(CMAKE_RC_COMPILER ${TOOLPREFIX}-windres)
set(CMAKE_OBJDUMP ${TOOLPREFIX}-objdump)
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLPREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
