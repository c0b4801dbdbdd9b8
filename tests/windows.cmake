# Conformance tests of the real DLL, run under Wine.

# GoogleTest cross-built from Debian's sources.
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
# Debian's googletest package puts the sources in /usr/src/googletest;
# elsewhere, pass ZELBIN_GOOGLETEST_SOURCE_DIR.
find_path(ZELBIN_GOOGLETEST_SOURCE_DIR NAMES googletest/include/gtest/gtest.h PATHS /usr/src/googletest
    NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
add_subdirectory(${ZELBIN_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
target_compile_options(gtest PUBLIC "SHELL:-include ${CMAKE_CURRENT_SOURCE_DIR}/dll/GtestWin32Notification.h")

# The scripted modem-line device's programs, built natively (see the end of
# this file), for the tests that need a serial port Wine's driver serves.
set(ZELBIN_TTYDEV_DIR ${CMAKE_BINARY_DIR}/ttydev-native/testing/ttydev)

# Zelbin_Serial.dll and the stand-in loaded as a host loads them.
# A module's import slots, rewritten in place.
add_library(zelbin_import_slots STATIC dll/ImportSlots.cpp)
target_include_directories(zelbin_import_slots PUBLIC dll)
target_link_libraries(zelbin_import_slots PRIVATE zelbin_warnings)

add_library(zelbin_loaded_library STATIC dll/LoadedLibrary.cpp)
target_include_directories(zelbin_loaded_library PUBLIC dll)
target_link_libraries(zelbin_loaded_library PUBLIC zelbin_api zelbin_import_slots gtest PRIVATE zelbin_sim zelbin_warnings)

add_executable(dll_tests
    dll/DllHarness.cpp
    dll/AbiTest.cpp
    dll/CallProbe-${ZELBIN_ARCH}.S)
target_link_libraries(dll_tests PRIVATE zelbin_behaviour_tests zelbin_loaded_library gtest_main zelbin_warnings)
# Loaded at run time from the test program's folder, like a host does.
add_dependencies(dll_tests Zelbin_Serial io routing_probe)
# A DLL whose loader callback opens a device, for the check that the tests'
# routing of device calls is in place when the loader binds a DLL.
add_library(routing_probe SHARED dll/RoutingProbe.c)
set_target_properties(routing_probe PROPERTIES PREFIX "")
target_link_libraries(routing_probe PRIVATE zelbin_warnings)

# A C host linked against the import library.
add_executable(import_library_link dll/ImportLibraryLink.c)
target_link_libraries(import_library_link PRIVATE zelbin_import_library zelbin_api zelbin_warnings)
add_dependencies(import_library_link Zelbin_Serial io)

# A host of MSVC's ABI, built by clang and lld-link without any C runtime,
# linked with the MSVC import library.
find_program(ZELBIN_CLANG NAMES clang REQUIRED)
find_program(ZELBIN_LLD_LINK NAMES lld-link REQUIRED)
set(msvc_host_dir ${CMAKE_CURRENT_BINARY_DIR}/msvc_host)
set(msvc_host ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/msvc_style_host.exe)
file(WRITE ${msvc_host_dir}/kernel32-x86.def
    "LIBRARY KERNEL32.dll\nEXPORTS\n    ExitProcess@4\n    GetModuleHandleA@4\n    GetProcAddress@8\n")
zelbin_module_definition(kernel32_def ${msvc_host_dir}/kernel32-x86.def)
set(msvc_link_options /machine:${ZELBIN_LINK_MACHINE})
if(ZELBIN_ARCH STREQUAL "x86")
    list(APPEND msvc_link_options /safeseh:no)
endif()
add_custom_command(OUTPUT ${msvc_host}
    COMMAND ${ZELBIN_CLANG} --target=${ZELBIN_MSVC_TARGET} -ffreestanding -fno-stack-protector -O1 -Wall -Werror
            -I${PROJECT_BINARY_DIR}/include -c ${CMAKE_CURRENT_SOURCE_DIR}/dll/MsvcStyleHost.c
            -o ${msvc_host_dir}/host.obj
    COMMAND ${ZELBIN_LLVM_DLLTOOL} -m ${ZELBIN_LLVM_MACHINE} -k -d ${kernel32_def} -l ${msvc_host_dir}/kernel32.lib
    COMMAND ${ZELBIN_LLD_LINK} /nologo /entry:HostEntry /subsystem:console /nodefaultlib ${msvc_link_options}
            ${msvc_host_dir}/host.obj ${PROJECT_BINARY_DIR}/src/library/Zelbin_Serial.lib ${msvc_host_dir}/kernel32.lib
            /out:${msvc_host}
    DEPENDS dll/MsvcStyleHost.c dll/HostSession.h ${PROJECT_SOURCE_DIR}/include/Zelbin_Serial.h.in
            zelbin_msvc_import_library
    COMMENT "MSVC-style host linked with Zelbin_Serial.lib")
add_custom_target(msvc_style_host ALL DEPENDS ${msvc_host})

add_test(NAME wine_prefix COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-prefix.sh ${ZELBIN_WINEPREFIX})
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 300 SKIP_RETURN_CODE 77)

add_test(NAME dll_conformance COMMAND dll_tests --gtest_brief=1)
add_test(NAME dll_import_library_link COMMAND import_library_link)
add_test(NAME dll_msvc_import_library_link COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} ${msvc_host})
set_tests_properties(dll_conformance dll_import_library_link dll_msvc_import_library_link PROPERTIES
    FIXTURES_REQUIRED wine TIMEOUT 300 WORKING_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
    RESOURCE_LOCK virtual_key SKIP_RETURN_CODE 77)

add_test(NAME dll_pe_tables
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/dll/check-pe-tables.sh ${CMAKE_OBJDUMP} $<TARGET_FILE:Zelbin_Serial>
            ${ZELBIN_ARCH})

add_test(NAME wine_shutdown COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-stop.sh ${ZELBIN_WINEPREFIX})
set_tests_properties(wine_shutdown PROPERTIES FIXTURES_CLEANUP wine)

# For the key tester's search under Wine, where the Ports device class lists
# nothing: a SETUPAPI.dll that lists the scripted port as a USB adapter of
# the CDC class (and a port that isn't there), loaded from the folder of a
# copy of the real tester; the serial calls are all Wine's.
zelbin_module_definition(setupapi_def tools/SimulatedSetupApi.def)
add_library(simulated_setupapi SHARED tools/SimulatedSetupApi.cpp ${setupapi_def})
set_target_properties(simulated_setupapi PROPERTIES PREFIX "" OUTPUT_NAME SETUPAPI
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/find-sim)
target_link_libraries(simulated_setupapi PRIVATE zelbin_warnings)

# The key tester and the virtual key, end to end; the other edition's
# files, where they are built, for the tester to name as such.
if(ZELBIN_ARCH STREQUAL "x86")
    set(other_edition_bin ${PROJECT_SOURCE_DIR}/build/windows-x64/bin)
else()
    set(other_edition_bin ${PROJECT_SOURCE_DIR}/build/windows/bin)
endif()
add_test(NAME tools_end_to_end
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tools/tools-test.sh ${CMAKE_RUNTIME_OUTPUT_DIRECTORY} ${ZELBIN_WINEPREFIX}
            ${ZELBIN_TTYDEV_DIR} ${other_edition_bin})
set_tests_properties(tools_end_to_end PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300 RESOURCE_LOCK virtual_key
    SKIP_RETURN_CODE 77)

# A technician's wrong set-ups, each laid out on drive C, and what the real
# tester says of each.
add_test(NAME tools_wrong_setups
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tools/setup-faults.sh ${CMAKE_RUNTIME_OUTPUT_DIRECTORY} ${ZELBIN_WINEPREFIX}
            ${other_edition_bin})
set_tests_properties(tools_wrong_setups PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300 RESOURCE_LOCK virtual_key
    SKIP_RETURN_CODE 77)

# The key tester's window on a virtual X display, driven with window
# messages; the screenshots stay in keytest-window/.
add_executable(key_window_driver tools/KeyWindowDriver.cpp)
target_link_libraries(key_window_driver PRIVATE zelbin_keytest_core gdi32 zelbin_warnings)
add_dependencies(key_window_driver zelbin-keytest-gui Zelbin_Serial io)
add_test(NAME keytest_window_under_wine
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tools/window-test.sh ${CMAKE_RUNTIME_OUTPUT_DIRECTORY} ${ZELBIN_WINEPREFIX}
            ${CMAKE_BINARY_DIR}/keytest-window ${PROJECT_VERSION} ${ZELBIN_TTYDEV_DIR})
set_tests_properties(keytest_window_under_wine PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300
    RESOURCE_LOCK virtual_key SKIP_RETURN_CODE 77)

# The window's manifest: common controls 6, per-monitor DPI awareness with
# its fallbacks, a GUI program.
add_test(NAME keytest_window_manifest
    COMMAND ${ZELBIN_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/binary/check-window-manifest.py
            $<TARGET_FILE:zelbin-keytest-gui>)
# The console tester's: run as the invoker, so that a map it can't write
# under Program Files is refused, not redirected to the VirtualStore.
add_test(NAME keytest_console_manifest
    COMMAND ${ZELBIN_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/binary/check-window-manifest.py --console
            $<TARGET_FILE:zelbin-keytest>)

# The header, compiled the ways hosts compile it.
add_test(NAME header_hosts
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/header/check-header.sh ${CMAKE_C_COMPILER} ${ZELBIN_CLANG}
            ${PROJECT_BINARY_DIR}/include ${PROJECT_SOURCE_DIR}/include)

# The shipped binaries read by tools nobody here wrote. Debian's python3,
# where setup.sh installs the PE reader and the CPU emulator.
set(ZELBIN_SHIPPED_BINARIES $<TARGET_FILE:Zelbin_Serial> $<TARGET_FILE:io> $<TARGET_FILE:commio_io>
    $<TARGET_FILE:zelbin-keytest> $<TARGET_FILE:zelbin-keytest-gui> $<TARGET_FILE:zelbin-virtualkey>)
add_test(NAME shipped_version_info
    COMMAND ${ZELBIN_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/binary/check-version-info.py ${PROJECT_VERSION}
            ${ZELBIN_SHIPPED_BINARIES})

# The same version resources through Windows' own GetFileVersionInfo.
add_executable(read_version_info dll/ReadVersionInfo.cpp)
target_link_libraries(read_version_info PRIVATE version zelbin_warnings)
set(version_info_paths "")
foreach(binary Zelbin_Serial io commio_io zelbin-keytest zelbin-keytest-gui zelbin-virtualkey)
    list(APPEND version_info_paths Z:$<TARGET_FILE:${binary}>)
endforeach()
add_test(NAME dll_version_info COMMAND read_version_info ${PROJECT_VERSION} ${version_info_paths})
set_tests_properties(dll_version_info PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 120 SKIP_RETURN_CODE 77)

add_test(NAME wine_plain_run_is_safe COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/dll/check-plain-wine.sh ${ZELBIN_WINEPREFIX})
set_tests_properties(wine_plain_run_is_safe PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300 SKIP_RETURN_CODE 77
    RESOURCE_LOCK virtual_key)

# The comm-port io.dll: its binary contract, and the real Zelbin_Serial.dll
# over it under Wine (comm calls on simulated COM devices, then on the
# prefix's COM1, a link to /dev/null).
add_test(NAME commio_dll_contract
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/commio/check-commio-dll.sh ${CMAKE_OBJDUMP} $<TARGET_FILE:commio_io>
            "$<TARGET_OBJECTS:commio_io>" $<TARGET_FILE:commio_win32> $<TARGET_FILE:commio_core> $<TARGET_FILE:zelbin_uart>)


add_executable(commio_dll_tests commio/wine/CommioDllTest.cpp commio/wine/QuietTicksTest.cpp)
target_link_libraries(commio_dll_tests PRIVATE zelbin_loaded_library commio_dcb commio_win32 zelbin_comdevices
    gtest_main zelbin_warnings)
add_dependencies(commio_dll_tests Zelbin_Serial commio_io)
add_test(NAME commio_dll_under_wine COMMAND commio_dll_tests --gtest_brief=1)
set_tests_properties(commio_dll_under_wine PROPERTIES
    FIXTURES_REQUIRED wine TIMEOUT 300 WORKING_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY} SKIP_RETURN_CODE 77)

# The hardening of every shipped binary, read with pefile: DYNAMIC_BASE,
# NX_COMPAT, NO_SEH, the stack protector with its guard linked in, no
# compiler runtime DLL, no writable and executable section. And a program
# linked without the flags, which the check must refuse.
add_test(NAME shipped_hardening
    COMMAND ${ZELBIN_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/binary/check-hardening.py --nm ${CMAKE_NM}
            ${ZELBIN_SHIPPED_BINARIES})
# The linker's defaults: on x86 no NO_SEH; on x64 told to leave out the
# high-entropy address space it would otherwise ask for.
set(unhardened ${CMAKE_CURRENT_BINARY_DIR}/unhardened/unhardened.exe)
if(ZELBIN_ARCH STREQUAL "x86")
    set(unhardened_flags "")
    set(unhardened_complaint "NO_SEH is not set")
else()
    set(unhardened_flags -Wl,--disable-high-entropy-va)
    set(unhardened_complaint "HIGH_ENTROPY_VA is not set")
endif()
add_custom_command(OUTPUT ${unhardened}
    COMMAND ${CMAKE_C_COMPILER} -O2 -fno-stack-protector ${unhardened_flags}
            ${CMAKE_CURRENT_SOURCE_DIR}/binary/Unhardened.c -o ${unhardened}
    DEPENDS binary/Unhardened.c
    COMMENT "A program without the hardening flags")
add_custom_target(unhardened_probe ALL DEPENDS ${unhardened})
add_test(NAME shipped_hardening_refuses_a_plain_binary
    COMMAND ${ZELBIN_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/binary/check-hardening.py ${unhardened})
set_tests_properties(shipped_hardening_refuses_a_plain_binary PROPERTIES
    PASS_REGULAR_EXPRESSION "FAIL unhardened.exe: ${unhardened_complaint}")

# What only the x86 build runs. The CPU emulator's checks read PE32 images:
# they run the shipped x86 bytes, on every machine, 32-bit or not.
if(ZELBIN_ARCH STREQUAL "x86")
    # The DLL's exports run in a CPU emulator: its calls, its stack and the
    # instructions of one poll, in the bytes that ship.
    add_test(NAME shipped_dll_emulated
        COMMAND ${ZELBIN_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/binary/check-shipped-dll.py $<TARGET_FILE:Zelbin_Serial>
                --budget 20 --nm ${CMAKE_NM})

    # The comm-port io.dll's x86 bytes in the CPU emulator, as the key
    # library calls them: each export's stdcall clean-up, before a claim and
    # with a device held, and a quiet poll's cost (no kernel32 call, an
    # instruction budget). The rest of what it does runs under Wine.
    add_test(NAME commio_dll_emulated
        COMMAND ${ZELBIN_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/binary/check-commio-stdcall.py $<TARGET_FILE:commio_io>
                --budget 150)

    # The Pascal units compiled by this machine's own Free Pascal (against a
    # stand-in for the Windows unit), once: what they declare doesn't depend
    # on the edition.
    find_program(ZELBIN_FPC fpc)
    add_test(NAME kit_pascal_compiles
        COMMAND ${ZELBIN_FPC} -vew -Sew -Cn -FU${CMAKE_CURRENT_BINARY_DIR}/kit_pascal
                -FE${CMAKE_CURRENT_BINARY_DIR}/kit_pascal -Fu${PROJECT_SOURCE_DIR}/kits/pascal
                -Fu${CMAKE_CURRENT_SOURCE_DIR}/kits/stub ${CMAKE_CURRENT_SOURCE_DIR}/kits/PascalHost.pas)
    file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/kit_pascal)
endif()

# The Pascal units in a host of this edition (win32 or win64), cross-compiled
# by Free Pascal and driving a session under Wine; then the run-time
# loader's word on each load fault, the other edition's files taken from its
# build.
add_test(NAME kit_pascal_host_under_wine
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/kits/check-pascal-host.sh ${PROJECT_SOURCE_DIR} ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
            ${ZELBIN_WINEPREFIX} ${CMAKE_BINARY_DIR}/kit_pascal_host ${ZELBIN_ARCH} ${other_edition_bin})
set_tests_properties(kit_pascal_host_under_wine PROPERTIES
    FIXTURES_REQUIRED wine TIMEOUT 600 RESOURCE_LOCK virtual_key SKIP_RETURN_CODE 77)

# The C loader header's word on each load fault (the DLL or its io.dll
# missing, or of the other architecture), in a host of this edition under
# Wine.
add_executable(load_faults kits/LoadFaults.c)
target_link_libraries(load_faults PRIVATE zelbin_api zelbin_warnings)
add_dependencies(load_faults Zelbin_Serial io)
add_test(NAME kit_c_loader_faults
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/kits/check-c-loader.sh ${PROJECT_SOURCE_DIR} $<TARGET_FILE:load_faults>
            ${CMAKE_RUNTIME_OUTPUT_DIRECTORY} ${other_edition_bin} ${ZELBIN_WINEPREFIX} ${CMAKE_BINARY_DIR}/kit_c_loader
            ${ZELBIN_ARCH})
set_tests_properties(kit_c_loader_faults PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 120 SKIP_RETURN_CODE 77)

# The release holds both editions. Its tests belong to the x64 build, whose
# Wine runs on every machine, and take the x86 build from its preset's
# folder (make windows builds both; without it they are skipped, saying so).
if(ZELBIN_ARCH STREQUAL "x64")
    set(ZELBIN_X86_BUILD_DIR ${PROJECT_SOURCE_DIR}/build/windows CACHE PATH "The x86 build the release takes")
    # A second build of each edition's shipped files, in other folders, gives
    # the same bytes, and so does the release zip made from them.
    add_test(NAME release_reproducible
        COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/release/check-reproducible.sh ${PROJECT_SOURCE_DIR}
                ${ZELBIN_X86_BUILD_DIR} ${CMAKE_BINARY_DIR})
    set_tests_properties(release_reproducible PROPERTIES TIMEOUT 900 RUN_SERIAL TRUE SKIP_RETURN_CODE 77)

    # The release zip as a host developer unzips it: its files, CR LF text,
    # its bill of materials against CycloneDX's schema, each edition's export
    # table, each shipped header compiled from it alone, and the CMake
    # package found by MinGW and MSVC-style (clang, lld-link) hosts of both
    # editions, each built and run under Wine where the machine runs its
    # edition; a project handed the other edition's DLL is refused.
    add_test(NAME release_zip_hosts
        COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/release/check-release-zip.sh ${PROJECT_SOURCE_DIR}
                ${ZELBIN_X86_BUILD_DIR} ${CMAKE_BINARY_DIR} ${ZELBIN_WINEPREFIX})
    set_tests_properties(release_zip_hosts PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 600 RESOURCE_LOCK virtual_key
        SKIP_RETURN_CODE 77)

    # The release signed by a throwaway CA's code-signing certificate: every
    # PE file verifies, the signatures removed give back the unsigned files,
    # the signed zip passes the zip's checks and the comm-port tests under
    # Wine; certificates that can't sign stop it, leaving no zip.
    add_test(NAME release_signed
        COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/release/check-signed-release.sh ${PROJECT_SOURCE_DIR}
                ${ZELBIN_X86_BUILD_DIR} ${CMAKE_BINARY_DIR} ${ZELBIN_WINEPREFIX})
    set_tests_properties(release_signed PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 900 RESOURCE_LOCK virtual_key
        SKIP_RETURN_CODE 77)

    # The CMake package's word on each load fault (the DLL or its io.dll
    # missing, or of the other architecture), refused at configure time, and
    # its usage snippets (its own comment's, the guide's) built as they stand.
    add_test(NAME kit_cmake_package
        COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/kits/check-cmake-package.sh ${PROJECT_SOURCE_DIR} ${ZELBIN_X86_BUILD_DIR}
                ${CMAKE_BINARY_DIR})
    set_tests_properties(kit_cmake_package PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)

    # The C# class compiled for x86, x64 and AnyCPU by Mono's compiler, its
    # declarations read back from the assembly, and its choice of file run
    # by Mono over the DLLs of both editions.
    find_program(ZELBIN_MCS mcs)
    find_program(ZELBIN_MONODIS monodis)
    add_test(NAME kit_csharp
        COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/kits/check-csharp-kit.sh ${ZELBIN_MCS} ${ZELBIN_MONODIS}
                ${PROJECT_SOURCE_DIR}/kits/csharp/ZelbinSerial.cs ${CMAKE_CURRENT_BINARY_DIR}/kit_csharp
                ${ZELBIN_X86_BUILD_DIR}/bin/Zelbin_Serial.dll $<TARGET_FILE:Zelbin_Serial>)
    set_tests_properties(kit_csharp PROPERTIES SKIP_RETURN_CODE 77)

    # The zip a technician unpacks, its own guide followed on drive C: a key
    # on a port Wine's own serial driver serves (the scripted device) found,
    # its map written and its presses counted through each edition's folder
    # as it stands; the port map template shipped byte for byte; the tester
    # naming the comm-port io.dll's place in the zip where it is missing.
    add_test(NAME release_zip_guide
        COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/release/check-zip-guide.sh ${PROJECT_SOURCE_DIR}
                ${ZELBIN_X86_BUILD_DIR} ${CMAKE_BINARY_DIR} ${ZELBIN_WINEPREFIX} ${ZELBIN_TTYDEV_DIR})
    set_tests_properties(release_zip_guide PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 600 RESOURCE_LOCK virtual_key
        SKIP_RETURN_CODE 77)

    # The NuGet package: its files and .nuspec, its build targets followed,
    # the same bytes twice, and a host built by mcs with its C# class that
    # finds each edition where .NET builds lay the package's files out.
    add_test(NAME release_nuget
        COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/release/check-nuget.sh ${PROJECT_SOURCE_DIR} ${ZELBIN_X86_BUILD_DIR}
                ${CMAKE_BINARY_DIR} ${ZELBIN_MCS})
    set_tests_properties(release_nuget PROPERTIES SKIP_RETURN_CODE 77)
endif()

# Every Windows test knows the edition it runs (scripts/wine-env.sh picks
# the Wine loader and scripts/wine-usable.sh the reason for a skip by it).
get_property(windows_tests DIRECTORY PROPERTY TESTS)
set_property(TEST ${windows_tests} APPEND PROPERTY ENVIRONMENT ZELBIN_ARCH=${ZELBIN_ARCH})

# ---- The comm-port io.dll behind Wine's own serial driver -------------------
# A scripted modem-line device (testing/ttydev): a pseudo-terminal linked as a
# COM port in the prefix, whose modem ioctls a library preloaded into Wine's
# processes answers from a script. Its Linux programs are built natively
# from this tree, beside this build. The real Zelbin_Serial.dll and the
# comm-port io.dll run over it in a host of their own, for each way an
# adapter's driver answers, with the other input lines still and, in two
# short runs, moving (pulses before the key's edges, a ringing RI, a
# flapping DCD, DSR following DTR), and an oracle judges each poll from the
# script and the poll times alone (tests/ttydev/scripted-runs.py; make soak
# runs 10,000 presses with the other lines still and 8,000 with them
# moving, make bench the latency).
include(ExternalProject)
ExternalProject_Add(ttydev_native
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/ttydev-native
    CMAKE_ARGS -DZELBIN_TTYDEV_ONLY=ON -DCMAKE_BUILD_TYPE=Release
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON)

# The scripted port in the registry's list of serial devices, for the key
# tester's port list and search.
add_executable(list_com_port ttydev/wine/ListComPort.cpp)
target_link_libraries(list_com_port PRIVATE zelbin_warnings)

add_executable(scripted_port_host ttydev/wine/ScriptedPortHost.cpp)
target_link_libraries(scripted_port_host PRIVATE zelbin_api winmm zelbin_warnings)
add_dependencies(scripted_port_host Zelbin_Serial commio_io ttydev_native)

add_test(NAME commio_over_wine_serial
    COMMAND ${ZELBIN_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/ttydev/scripted-runs.py check
            --edition ${ZELBIN_ARCH}=${CMAKE_BINARY_DIR})
set_tests_properties(commio_over_wine_serial PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300 SKIP_RETURN_CODE 77
    RESOURCE_LOCK virtual_key ENVIRONMENT ZELBIN_ARCH=${ZELBIN_ARCH})

# ---- What a host that loads the library holds ---------------------------------
# A host that loads Zelbin_Serial.dll with the comm-port io.dll beside it,
# starts listening, polls, stops and frees it, again and again, and lists
# what the process holds (handles, memory, thread-local slots, threads,
# modules).
add_executable(load_cycles_host ttydev/wine/LoadCyclesHost.cpp)
target_link_libraries(load_cycles_host PRIVATE zelbin_api zelbin_warnings)
add_dependencies(load_cycles_host Zelbin_Serial commio_io)

# SETUPAPI.dll comes into the host only with a port map that names a USB
# adapter (its module list after the first start).
add_test(NAME commio_setupapi_on_first_use
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/commio/check-setupapi-on-first-use.sh ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
            ${ZELBIN_WINEPREFIX} ${CMAKE_BINARY_DIR}/setupapi-on-first-use)
set_tests_properties(commio_setupapi_on_first_use PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300
    SKIP_RETURN_CODE 77 RESOURCE_LOCK virtual_key ENVIRONMENT ZELBIN_ARCH=${ZELBIN_ARCH})

# 100 cycles over the scripted port: what the host holds stays flat from
# the middle cycle to the last (make soak runs 10,000 of each edition).
add_dependencies(load_cycles_host ttydev_native)
add_test(NAME library_load_cycles
    COMMAND ${ZELBIN_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/ttydev/load-cycles.py --cycles 100
            --edition ${ZELBIN_ARCH}=${CMAKE_BINARY_DIR})
set_tests_properties(library_load_cycles PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300 SKIP_RETURN_CODE 77
    RESOURCE_LOCK virtual_key ENVIRONMENT ZELBIN_ARCH=${ZELBIN_ARCH})

# What each shipped binary imports must be on its list (a DLL on none is a
# new dependency for every host), and the key library and the comm-port
# io.dll within their sizes; make bench prints the sizes of both editions.
add_test(NAME shipped_imports
    COMMAND ${ZELBIN_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/binary/check-imports.py
            library=$<TARGET_FILE:Zelbin_Serial> commio=$<TARGET_FILE:commio_io> standin=$<TARGET_FILE:io>
            keytest=$<TARGET_FILE:zelbin-keytest> keytest-gui=$<TARGET_FILE:zelbin-keytest-gui>
            virtualkey=$<TARGET_FILE:zelbin-virtualkey>)
