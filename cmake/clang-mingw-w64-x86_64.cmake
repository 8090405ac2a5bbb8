# A second compiler for the same Windows x64 build: Debian's clang targeting the mingw-w64 runtime,
# with the C++ library of the posix g++ cross compiler (clang finds the mingw-w64 C headers and
# libraries by itself, but not that C++ library). scripts/check builds with it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)

# The g++ cross compiler's own folder: its libstdc++ headers and static libraries.
file(GLOB TARN_MINGW_GCC_DIRS /usr/lib/gcc/${TOOLCHAIN_PREFIX}/*-posix)
list(GET TARN_MINGW_GCC_DIRS 0 TARN_MINGW_GCC_DIR)
set(CMAKE_CXX_FLAGS_INIT
  "-isystem ${TARN_MINGW_GCC_DIR}/include/c++ -isystem ${TARN_MINGW_GCC_DIR}/include/c++/${TOOLCHAIN_PREFIX}")
# libgcc_eh calls pthread functions, so winpthread must be linked as well.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-L${TARN_MINGW_GCC_DIR} -pthread")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-L${TARN_MINGW_GCC_DIR} -pthread")

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

find_program(WINE_PROGRAM NAMES wine64 wine)
if(WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_PROGRAM})
endif()
