# The last install step of the Windows release (cmake/release.cmake):
# writes SHA256SUMS beside the installed files, one line a file in
# sha256sum's format ("<hash>  <path>", the path as in the archive, with /),
# so that `sha256sum -c SHA256SUMS` checks the unpacked archive. The files
# are those installed before it; the install manifest names them without
# DESTDIR.
set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(paths "")
foreach(file IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
    file(RELATIVE_PATH path "${CMAKE_INSTALL_PREFIX}" "${file}")
    if(NOT path MATCHES "^\\.\\./" AND NOT path STREQUAL "SHA256SUMS")
        list(APPEND paths "${path}")
    endif()
endforeach()
if(NOT paths)
    message(FATAL_ERROR "SHA256SUMS: no installed file under ${root}")
endif()
list(SORT paths)
set(sums "")
foreach(path IN LISTS paths)
    file(SHA256 "${root}/${path}" hash)
    string(APPEND sums "${hash}  ${path}\n")
endforeach()
message(STATUS "Installing: ${root}/SHA256SUMS")
file(WRITE "${root}/SHA256SUMS" "${sums}")
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_PREFIX}/SHA256SUMS")
