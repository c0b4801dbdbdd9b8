# What every binary that leaves the build folder gets: a version resource,
# PE headers without a link timestamp, and, in release builds, its symbols
# moved to NAME.debug beside it, linked by a debuglink, so that the shipped
# file is stripped yet a crash in the field can still be read.
#
#   zelbin_shipped_binary(TARGET "Description")
# The copyright runs from the project's first year to the year of the commit
# being built (not of the build, which would change the bytes from one day to
# the next); outside a git checkout, SOURCE_DATE_EPOCH's year, else today's.
set(ZELBIN_FIRST_YEAR 2026)
execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} log -1 --format=%cd --date=format:%Y
    OUTPUT_VARIABLE commit_year OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE git_failed)
if(git_failed OR NOT commit_year MATCHES "^[0-9][0-9][0-9][0-9]$")
    string(TIMESTAMP commit_year "%Y" UTC)
endif()
if(commit_year GREATER ZELBIN_FIRST_YEAR)
    set(ZELBIN_COPYRIGHT_YEARS "${ZELBIN_FIRST_YEAR}-${commit_year}")
else()
    set(ZELBIN_COPYRIGHT_YEARS "${ZELBIN_FIRST_YEAR}")
endif()

# Debian's own Python, whatever else is first on the PATH: the build's
# scripts need nothing but its standard library.
find_program(ZELBIN_BUILD_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)

function(zelbin_shipped_binary target description)
    get_target_property(type ${target} TYPE)
    get_target_property(prefix ${target} PREFIX)
    get_target_property(name ${target} OUTPUT_NAME)
    if(NOT prefix)
        set(prefix "")
    endif()
    if(NOT name)
        set(name ${target})
    endif()
    if(type STREQUAL "EXECUTABLE")
        set(ZELBIN_RC_FILETYPE VFT_APP)
        set(ZELBIN_RC_ORIGINAL_NAME "${prefix}${name}.exe")
    else()
        set(ZELBIN_RC_FILETYPE VFT_DLL)
        set(ZELBIN_RC_ORIGINAL_NAME "${prefix}${name}.dll")
    endif()
    string(REGEX REPLACE "\\.[a-z]+$" "" ZELBIN_RC_INTERNAL_NAME "${ZELBIN_RC_ORIGINAL_NAME}")
    set(ZELBIN_RC_DESCRIPTION "${description}")
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/VersionInfo.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})

    # Two builds of one commit must give the same bytes: no link time in the
    # PE headers (the folders are kept out of the debug information for all
    # Windows code, in the top-level CMakeLists.txt).
    target_link_options(${target} PRIVATE -Wl,--no-insert-timestamp)

    # Hardening that binary checkers look for: relocatable (ASLR) and
    # non-executable data, said explicitly rather than left to the linker's
    # defaults. On x86 also no SEH, since GCC's i686 exceptions unwind with
    # DWARF tables and no code here registers an SEH frame handler, so
    # Windows may refuse any handler found on the stack in this image. x64
    # unwinds by the image's own tables (there NO_SEH would forbid them) and
    # takes addresses from the whole 64-bit space (HIGH_ENTROPY_VA). The
    # stack protector's guard comes with it, seeded from kernel32 alone.
    target_link_options(${target} PRIVATE -Wl,--dynamicbase -Wl,--nxcompat)
    if(ZELBIN_ARCH STREQUAL "x86")
        target_link_options(${target} PRIVATE -Wl,--no-seh)
    else()
        target_link_options(${target} PRIVATE -Wl,--high-entropy-va)
    endif()
    target_sources(${target} PRIVATE $<TARGET_OBJECTS:zelbin_stack_guard>)

    # The linker's map says which files outside the project it took code
    # from: the release's bill of materials names them.
    set(link_map ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
    target_link_options(${target} PRIVATE -Wl,-Map=${link_map})

    if(CMAKE_BUILD_TYPE STREQUAL "Release")
        set(file $<TARGET_FILE_NAME:${target}>)
        # What the linker took from the toolchain, with the Debian packages
        # and versions it came from; installed beside the binaries for the
        # release to read, never shipped.
        set(record ${CMAKE_CURRENT_BINARY_DIR}/${target}.links.json)
        add_custom_command(TARGET ${target} POST_BUILD
            # objcopy stamps each PE file it writes with the time, unless
            # SOURCE_DATE_EPOCH names one: 0, as the linker leaves it.
            COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0
                    ${CMAKE_OBJCOPY} --only-keep-debug ${file} ${file}.debug
            COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0
                    ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=${file}.debug ${file}
            # Padded and checksummed as a signature would leave it, so that a
            # signature removed again gives back the same bytes; and the record.
            COMMAND ${ZELBIN_BUILD_PYTHON} ${PROJECT_SOURCE_DIR}/cmake/finish-shipped-binary.py ${file} ${link_map}
                    ${record}
            BYPRODUCTS ${record}
            WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
            COMMENT "Symbols of ${file} into ${file}.debug; ready to sign"
            VERBATIM)
        install(FILES ${record} DESTINATION links)
    endif()
endfunction()

# A DLL that keeps no thread-local data and links no C++ runtime (the key
# library, the comm-port io.dll): without the C runtime's thread-local
# storage support, it carries no TLS directory (cmake/NoThreadStorage.cpp).
function(zelbin_no_thread_storage target)
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/NoThreadStorage.cpp)
endfunction()
