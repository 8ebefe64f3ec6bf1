# Cross-compiles for 32-bit Windows with MinGW-w64 (the POSIX thread model,
# which std::mutex and GoogleTest need); tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(RESTORE_MINGW_PREFIX i686-w64-mingw32)
find_program(RESTORE_MINGW_CXX NAMES ${RESTORE_MINGW_PREFIX}-g++-posix)
find_program(RESTORE_MINGW_CC NAMES ${RESTORE_MINGW_PREFIX}-gcc-posix)
find_program(RESTORE_MINGW_RC ${RESTORE_MINGW_PREFIX}-windres)
if(NOT RESTORE_MINGW_CXX OR NOT RESTORE_MINGW_CC OR NOT RESTORE_MINGW_RC)
  message(FATAL_ERROR "${RESTORE_MINGW_PREFIX} compilers not found: run scripts/setup (Debian package g++-mingw-w64-i686)")
endif()
set(CMAKE_C_COMPILER ${RESTORE_MINGW_CC})
set(CMAKE_CXX_COMPILER ${RESTORE_MINGW_CXX})
set(CMAKE_RC_COMPILER ${RESTORE_MINGW_RC})

set(CMAKE_FIND_ROOT_PATH /usr/${RESTORE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Every test executable runs through Wine, with a prefix of the build's own.
get_filename_component(_restore_root ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${_restore_root}/scripts/wine-run)
