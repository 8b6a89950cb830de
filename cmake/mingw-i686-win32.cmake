# The release build: the win32 thread model, whose static runtime imports
# nothing Windows XP lacks (the posix one's imports GetTickCount64).
set(VK_MINGW_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
