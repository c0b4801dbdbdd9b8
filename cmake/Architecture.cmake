# The Windows architecture of this build, and what differs between the two.
#
# x86: the exports are stdcall, decorated with the size of their arguments
# (ZelbinStartListen@4) in objects and import libraries; the .def files
# name them so. x64 has one calling convention and no decoration, so the
# same .def files serve with the @N taken off. Names and ordinals are the
# same on both.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(ZELBIN_ARCH x64)
    set(ZELBIN_LLVM_MACHINE i386:x86-64) # llvm-dlltool -m
    set(ZELBIN_LINK_MACHINE x64)         # lld-link /machine:
    set(ZELBIN_MSVC_TARGET x86_64-pc-windows-msvc)
    set(ZELBIN_MANIFEST_ARCH amd64)      # processorArchitecture in a manifest
else()
    set(ZELBIN_ARCH x86)
    set(ZELBIN_LLVM_MACHINE i386)
    set(ZELBIN_LINK_MACHINE x86)
    set(ZELBIN_MSVC_TARGET i686-pc-windows-msvc)
    set(ZELBIN_MANIFEST_ARCH x86)
endif()

#   zelbin_module_definition(VAR file.def)
# Sets VAR to the .def file for this architecture: the file itself on x86,
# a copy in the build folder without the stdcall decoration on x64.
function(zelbin_module_definition var def)
    get_filename_component(source ${def} ABSOLUTE)
    if(ZELBIN_ARCH STREQUAL "x86")
        set(${var} ${source} PARENT_SCOPE)
        return()
    endif()
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${source})
    if(rel MATCHES "^\\.\\./")
        file(RELATIVE_PATH rel ${PROJECT_BINARY_DIR} ${source})
    endif()
    set(copy ${PROJECT_BINARY_DIR}/def/${rel})
    file(READ ${source} text)
    # "Name@8" loses its @8; an ordinal ("  @5", after blanks) stays.
    string(REGEX REPLACE "([A-Za-z0-9_])@[0-9]+" "\\1" text "${text}")
    file(CONFIGURE OUTPUT ${copy} CONTENT "${text}" @ONLY)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
    set(${var} ${copy} PARENT_SCOPE)
endfunction()
