# The release, read once CMakeLists.txt has defined every target
# (cmake_language(DEFER) under its project()):
# - the project's version fed to the programs: both exes' version resources
#   (vk_version.h) and the VK_VERSION that VkCheck --version and
#   vk_check --version print;
# - the packages `cmake --build --preset ... --target package` makes with
#   CPack: the ZIP of the Windows programs from the `windows` build, and the
#   Debian package of vk_check from an optimised Linux build (`release-linux`).

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

set(CPACK_PACKAGE_VENDOR "The Tallowin uninstaller developers")
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
elseif(TARGET vk_check)
    # vk-check_<version>_amd64.deb: /usr/bin/vk_check and its manual page.
    if(NOT CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$")
        # A Debug build is no package's: the release-linux preset makes it.
        return()
    endif()
    set(VK_MAN_PAGE ${CMAKE_BINARY_DIR}/man/vk_check.1)
    add_custom_command(OUTPUT ${VK_MAN_PAGE}.gz
        COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/docs/vk_check.1 ${VK_MAN_PAGE}
        COMMAND gzip -9nf ${VK_MAN_PAGE}
        DEPENDS ${CMAKE_SOURCE_DIR}/docs/vk_check.1
        COMMENT "vk_check.1.gz: the manual page, compressed as Debian keeps them" VERBATIM)
    add_custom_target(vk_man_page ALL DEPENDS ${VK_MAN_PAGE}.gz)

    include(GNUInstallDirs)
    install(TARGETS vk_check RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${VK_MAN_PAGE}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

    option(VK_PACKAGE_ONLY "Build only what the package holds (the release-linux preset)" OFF)
    if(VK_PACKAGE_ONLY)
        # `package` builds `all` first: here that is vk_check (with the
        # libraries it links) and its manual page, not the tests.
        get_property(targets DIRECTORY ${CMAKE_SOURCE_DIR} PROPERTY BUILDSYSTEM_TARGETS)
        foreach(target IN LISTS targets)
            if(NOT target MATCHES "^(vk_check|vk_man_page)$")
                set_property(TARGET ${target} PROPERTY EXCLUDE_FROM_ALL ON)
            endif()
        endforeach()
    endif()

    set(VK_PACKAGE_MAINTAINER "The Tallowin uninstaller developers <uninstaller@tallowin.example>"
        CACHE STRING "The Debian package's Maintainer field")
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGE_NAME vk-check)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VK_PACKAGE_MAINTAINER})
    set(CPACK_DEBIAN_PACKAGE_SECTION admin)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
        "judge and mend a Windows that no longer starts after the Tallowin uninstaller")
    # The first line of the package's description is the summary above.
    set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
        "vk_check reads the hives and files of a Windows 2000/XP disk mounted on a
Linux live system and judges whether its next boot loads every driver the
machine needs, with the same judge as VkCheck.exe on a running Windows;
repair takes out of the device classes' filter lists the names Windows
cannot load, keeping a backup of the hive. It also answers from snapshots
that VkCheck.exe wrote.")
    # libc, the C++ runtime and hivex's library, as dpkg-shlibdeps finds them.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_STRIP_FILES ON)
    include(CPack)
endif()
