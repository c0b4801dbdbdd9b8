# Conformance tests of the real DLL, run under Wine.

# GoogleTest cross-built from Debian's sources.
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
target_compile_options(gtest PUBLIC "SHELL:-include ${CMAKE_CURRENT_SOURCE_DIR}/dll/GtestWin32Notification.h")

add_executable(dll_tests
    ${ZELBIN_BEHAVIOUR_TESTS}
    dll/DllHarness.cpp
    dll/LoadedLibrary.cpp
    dll/AbiTest.cpp
    dll/StackProbe.S)
target_include_directories(dll_tests PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/library)
target_link_libraries(dll_tests PRIVATE gtest_main zelbin_warnings)
# Loaded at run time from the test program's folder, like a host does.
add_dependencies(dll_tests Zelbin_Serial io)

# A C host linked against the import library.
add_executable(import_library_link dll/ImportLibraryLink.c)
target_include_directories(import_library_link PRIVATE ${PROJECT_SOURCE_DIR}/library)
target_link_libraries(import_library_link PRIVATE zelbin_import_library zelbin_warnings)
add_dependencies(import_library_link Zelbin_Serial io)

add_test(NAME wine_prefix COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-prefix.sh ${ZELBIN_WINEPREFIX})
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)

add_test(NAME dll_conformance COMMAND dll_tests --gtest_brief=1)
add_test(NAME dll_import_library_link COMMAND import_library_link)
set_tests_properties(dll_conformance dll_import_library_link PROPERTIES
    FIXTURES_REQUIRED wine TIMEOUT 300 WORKING_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
    RESOURCE_LOCK virtual_key)

add_test(NAME dll_pe_tables
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/dll/check-pe-tables.sh ${CMAKE_OBJDUMP} $<TARGET_FILE:Zelbin_Serial>)

add_test(NAME wine_shutdown COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-stop.sh ${ZELBIN_WINEPREFIX})
set_tests_properties(wine_shutdown PROPERTIES FIXTURES_CLEANUP wine)

# The key tester and the virtual key, end to end.
add_test(NAME tools_end_to_end
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tools/tools-test.sh ${CMAKE_RUNTIME_OUTPUT_DIRECTORY} ${ZELBIN_WINEPREFIX})
set_tests_properties(tools_end_to_end PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300 RESOURCE_LOCK virtual_key)
