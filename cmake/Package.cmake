# What a Windows build installs besides the binaries and headers: the CMake
# package that lets CMake hosts find_package(Zelbin_Serial), and the host
# kits for Pascal and C#. The layout is the release zip's: the DLL at the
# top, include/, lib/ with the import libraries and lib/cmake/.
include(CMakePackageConfigHelpers)
# Same major version: 1.2 serves hosts that asked for 1.0 to 1.2. The file
# also records that the package is 32-bit, so a 64-bit project doesn't
# take it.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/Zelbin_SerialConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/package/Zelbin_SerialConfig.cmake
    ${CMAKE_BINARY_DIR}/package/Zelbin_SerialConfigVersion.cmake
    DESTINATION lib/cmake/Zelbin_Serial)
install(FILES ${PROJECT_SOURCE_DIR}/kits/pascal/ZelbinSerial.pas ${PROJECT_SOURCE_DIR}/kits/pascal/ZelbinSerialDynamic.pas
    DESTINATION kits/pascal)
install(FILES ${PROJECT_SOURCE_DIR}/kits/csharp/ZelbinSerial.cs DESTINATION kits/csharp)
