# The side-by-side programs for real Windows (run under Wine): the runner,
# the product's own logic against Windows itself (vk_product_win32) with the
# machines' installer and reader, the service program, the server libraries
# and the stand-in for Wine's restart; all of them are side_programs.
# nlohmann-json is header-only: its folder alone, not the host's include folder.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/json-include)
file(CREATE_LINK /usr/include/nlohmann ${CMAKE_BINARY_DIR}/json-include/nlohmann SYMBOLIC)

add_executable(side_run
    ${DESCRIPTION_SOURCES}
    ${READER_SOURCES}
    tests/side/lay_down.cpp
    tests/side/layable.cpp
    tests/side/win32_hooks.cpp
    tests/side/side_run.cpp
    tests/side/win32_fresh.cpp)
target_include_directories(side_run PRIVATE src tests)
target_include_directories(side_run SYSTEM PRIVATE ${CMAKE_BINARY_DIR}/json-include)
target_link_options(side_run PRIVATE -static)
target_link_libraries(side_run PRIVATE vk_product_win32)

add_executable(side_service tests/side/service_program.cpp)
target_link_options(side_service PRIVATE -static)
target_link_libraries(side_service PRIVATE advapi32)

add_library(side_server SHARED tests/side/server_library.cpp)
target_compile_definitions(side_server PRIVATE SIDE_EXPORTS_UNREGISTER)
add_library(side_plain SHARED tests/side/server_library.cpp)
# A server that imports a second library, and that library, built in a
# folder of its own: only a load that looks beside the server finds it.
add_library(side_import SHARED tests/side/imported_library.cpp)
set_target_properties(side_import PROPERTIES PREFIX "" OUTPUT_NAME vkclass
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/side-imports)
target_link_options(side_import PRIVATE -static)
add_library(side_server_import SHARED tests/side/server_library.cpp)
target_compile_definitions(side_server_import PRIVATE SIDE_EXPORTS_UNREGISTER SIDE_IMPORTS)
target_link_libraries(side_server_import PRIVATE side_import)
foreach(library side_server side_plain side_server_import)
    set_target_properties(${library} PROPERTIES PREFIX "")
    # Exported as Windows names it, without the 32-bit "@0" decoration.
    target_link_options(${library} PRIVATE -static -Wl,--kill-at)
    target_link_libraries(${library} PRIVATE advapi32)
endforeach()

add_executable(fake_wineboot tests/side/fake_wineboot.cpp)
target_link_options(fake_wineboot PRIVATE -static)
target_link_libraries(fake_wineboot PRIVATE advapi32)

add_executable(empty_program tests/side/empty_program.cpp)
target_link_options(empty_program PRIVATE -static)

set(SIDE_PROGRAMS side_run side_service side_server side_plain side_import side_server_import
    fake_wineboot empty_program)
foreach(program ${SIDE_PROGRAMS})
    target_compile_options(${program} PRIVATE ${VK_WARNINGS})
endforeach()
add_custom_target(side_programs DEPENDS ${SIDE_PROGRAMS})
