# The release, read once CMakeLists.txt has defined every target
# (cmake_language(DEFER) under its project()):
# - the project's version fed to the programs: both exes' version resources
#   (vk_version.h) and the VK_VERSION that VkCheck --version and
#   vk_check --version print;
# - the packages `cmake --build --preset ... --target package` makes with
#   CPack: the ZIP of the Windows programs from the `windows` build.

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

# No package from the builds of tests: the contract tests' and the
# side-by-side programs' for Windows, the sanitizers' and the fuzzer's.
if(VK_WINE_TESTS OR VK_SIDE_BY_SIDE OR VK_SANITIZE OR VK_FUZZ)
    return()
endif()

set(CPACK_PACKAGE_VENDOR "Korrin")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_VERBATIM_VARIABLES ON)

if(TARGET VkUninst AND TARGET VkCheck)
    # tallowin-uninstaller-<version>.zip: the programs at its root,
    # README.txt, fleet\uninstall.cmd and SHA256SUMS.
    set(VK_README_TXT ${CMAKE_BINARY_DIR}/README.txt)
    add_custom_command(OUTPUT ${VK_README_TXT}
        COMMAND ${CMAKE_COMMAND} -DREADME=${CMAKE_SOURCE_DIR}/README.md -DOUTPUT=${VK_README_TXT}
                -P ${CMAKE_SOURCE_DIR}/cmake/readme_txt.cmake
        DEPENDS ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/cmake/readme_txt.cmake
        COMMENT "README.txt: the administrators' part of README.md as plain text" VERBATIM)
    add_custom_target(vk_readme_txt ALL DEPENDS ${VK_README_TXT})

    install(TARGETS VkUninst VkCheck RUNTIME DESTINATION .)
    install(FILES ${VK_README_TXT} DESTINATION .)
    # The startup-script recipe is part of the release: no ZIP without it.
    set(VK_FLEET_SCRIPT ${CMAKE_SOURCE_DIR}/fleet/uninstall.cmd)
    install(CODE "if(NOT EXISTS \"${VK_FLEET_SCRIPT}\")
    message(FATAL_ERROR \"${VK_FLEET_SCRIPT} is missing: the release ZIP holds the startup script fleet\\\\uninstall.cmd, and this tree has none\")
endif()")
    install(FILES ${VK_FLEET_SCRIPT} DESTINATION fleet)
    # Last: the SHA-256 of every file installed before it.
    install(CODE "include(\"${CMAKE_SOURCE_DIR}/cmake/sha256sums.cmake\")")

    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_NAME tallowin-uninstaller)
    set(CPACK_PACKAGE_FILE_NAME tallowin-uninstaller-${PROJECT_VERSION})
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
    include(CPack)
endif()
