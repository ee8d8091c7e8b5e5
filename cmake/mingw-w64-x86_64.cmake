# Cross build for 64-bit Windows with Debian's MinGW-w64 (the posix threads variant, whose
# libstdc++ has std::thread and std::mutex), tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZQN_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZQN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZQN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZQN_MINGW_TRIPLET}-windres)

# Headers and libraries come from the MinGW tree only, never from the host's /usr.
set(CMAKE_FIND_ROOT_PATH /usr/${ZQN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe each: Wine then needs no MinGW runtime DLLs on its path.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Debian's wine64 package installs the loader outside PATH.
find_program(ZQN_WINE64 wine64 PATHS /usr/lib/wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run ${ZQN_WINE64} ${CMAKE_BINARY_DIR}/wine)
