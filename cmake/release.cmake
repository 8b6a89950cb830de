# The release, read once CMakeLists.txt has defined every target
# (cmake_language(DEFER) under its project()): the project's version fed to
# the programs, both exes' version resources (vk_version.h) and the
# VK_VERSION that VkCheck --version and vk_check --version print.

# The four numbers of a Windows version resource, and the same as text.
foreach(part MAJOR MINOR PATCH TWEAK)
    if("${PROJECT_VERSION_${part}}" STREQUAL "")
        set(PROJECT_VERSION_${part} 0)
    endif()
endforeach()
set(VK_FILE_VERSION
    "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},${PROJECT_VERSION_TWEAK}")
string(REPLACE "," "." VK_FILE_VERSION_TEXT "${VK_FILE_VERSION}")
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/release/vk_version.h CONTENT
     "// Written by cmake/release.cmake from the project's version.
#define VK_FILE_VERSION @VK_FILE_VERSION@
#define VK_FILE_VERSION_TEXT \"@VK_FILE_VERSION_TEXT@\"
" @ONLY)

set(VK_RESOURCES "")
if(TARGET VkUninst)
    list(APPEND VK_RESOURCES src/uninstall/VkUninst.rc)
endif()
if(TARGET VkCheck)
    target_sources(VkCheck PRIVATE src/check/VkCheck.rc)
    list(APPEND VK_RESOURCES src/check/VkCheck.rc)
    # The C++ sources alone: the resource compiler gets its version from the header.
    target_compile_definitions(VkCheck PRIVATE
                               $<$<COMPILE_LANGUAGE:CXX>:VK_VERSION="${PROJECT_VERSION}">)
endif()
if(VK_RESOURCES)
    set_source_files_properties(${VK_RESOURCES} PROPERTIES
        INCLUDE_DIRECTORIES ${CMAKE_BINARY_DIR}/release
        OBJECT_DEPENDS ${CMAKE_BINARY_DIR}/release/vk_version.h)
endif()
if(TARGET vk_check_lib)
    # The command line's sources are vk_check's library: the tests see the same version.
    target_compile_definitions(vk_check_lib PUBLIC VK_VERSION="${PROJECT_VERSION}")
endif()
