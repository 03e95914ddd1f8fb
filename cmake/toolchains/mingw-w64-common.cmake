# What the mingw-w64 toolchain files share; they set KDX_MINGW_TRIPLE first. The -posix compilers
# carry the winpthreads thread model that std::thread, std::mutex and GoogleTest need.
set(CMAKE_C_COMPILER ${KDX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KDX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KDX_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KDX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows 7 and later, the wide-character API, and binaries that need no MinGW runtime DLL beside them.
set(KDX_MINGW_DEFINES "-D_WIN32_WINNT=0x0601 -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX")
set(CMAKE_C_FLAGS_INIT "${KDX_MINGW_DEFINES}")
set(CMAKE_CXX_FLAGS_INIT "${KDX_MINGW_DEFINES}")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
endforeach()
