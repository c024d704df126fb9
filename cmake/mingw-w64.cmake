# Cross-compiles for 64-bit Windows with mingw-w64 and links every program fully static, so the
# exe needs nothing but DLLs that ship with Windows. Programs the build runs (test discovery,
# ctest, try_run) run under Wine.
#
# scripts/build-windows installs the compilers and Wine and fills the dependency prefix; then:
#   cmake -S . -B build/windows/project -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#
# VESTREL_WINDOWS_DEPS  prefix holding the Windows builds of libcurl, Dear ImGui, stb_image and
#                       GoogleTest (default: build/windows/deps/prefix in this repository)
# VESTREL_WINEPREFIX    Wine prefix the programs run in (default: build/windows/wineprefix)
# Either may also come from the environment variable of the same name.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The posix thread model is the one whose libstdc++ has std::thread and std::mutex; the win32
# variant lacks them. Named explicitly so that update-alternatives cannot switch it.
set(VESTREL_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER /usr/bin/${VESTREL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER /usr/bin/${VESTREL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER /usr/bin/${VESTREL_MINGW_TRIPLE}-windres)
set(CMAKE_AR /usr/bin/${VESTREL_MINGW_TRIPLE}-ar CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB /usr/bin/${VESTREL_MINGW_TRIPLE}-ranlib CACHE FILEPATH "Ranlib")

get_filename_component(_vestrel_repo "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
foreach(_vestrel_var IN ITEMS VESTREL_WINDOWS_DEPS VESTREL_WINEPREFIX)
  if(NOT ${_vestrel_var} AND DEFINED ENV{${_vestrel_var}})
    set(${_vestrel_var} "$ENV{${_vestrel_var}}")
  endif()
endforeach()
if(NOT VESTREL_WINDOWS_DEPS)
  set(VESTREL_WINDOWS_DEPS "${_vestrel_repo}/build/windows/deps/prefix")
endif()
if(NOT VESTREL_WINEPREFIX)
  set(VESTREL_WINEPREFIX "${_vestrel_repo}/build/windows/wineprefix")
endif()
set(VESTREL_WINDOWS_DEPS "${VESTREL_WINDOWS_DEPS}" CACHE PATH
    "Prefix with the Windows builds of the dependencies")
set(VESTREL_WINEPREFIX "${VESTREL_WINEPREFIX}" CACHE PATH "Wine prefix for running programs")
# try_compile projects read this file again without the main project's cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VESTREL_WINDOWS_DEPS VESTREL_WINEPREFIX)

# Libraries and headers come only from the dependency prefix and the mingw-w64 runtime, never
# from the Linux system; build tools come from the host.
set(CMAKE_FIND_ROOT_PATH "${VESTREL_WINDOWS_DEPS}" /usr/${VESTREL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)

# pkg-config must see the prefix's .pc files (libcurl, imgui, stb) and none of the host's.
set(ENV{PKG_CONFIG_LIBDIR} "${VESTREL_WINDOWS_DEPS}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# The players' machines have no mingw runtime DLLs (libstdc++, libgcc, libwinpthread).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Wine names files on the Linux side in the locale's encoding: without a UTF-8 locale (a
# bare environment, as in a fresh root) a Cyrillic file name cannot be made at all.
set(CMAKE_CROSSCOMPILING_EMULATOR
    /usr/bin/env "WINEPREFIX=${VESTREL_WINEPREFIX}" WINEDEBUG=-all
    "WINEDLLOVERRIDES=mscoree,mshtml=" LC_ALL=C.UTF-8 /usr/bin/wine)
