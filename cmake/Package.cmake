# What a Windows build installs besides the binaries and headers: the CMake
# package that lets CMake hosts find_package(Zelbin_Serial), and the host
# kits for Pascal and C#. The layout is one edition's folder of the release
# zip (the DLL at the top, lib/ with the import libraries) with what the
# editions share beside it (include/, lib/cmake/, kits/).
# The version file is the same bytes for both editions (the release holds
# both), which CMake's own generator can't give: it writes the size of a
# pointer into the file even where it doesn't check it.
configure_file(${PROJECT_SOURCE_DIR}/cmake/package/Zelbin_SerialConfigVersion.cmake.in
    ${CMAKE_BINARY_DIR}/package/Zelbin_SerialConfigVersion.cmake @ONLY)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/package/Zelbin_SerialConfig.cmake
    ${CMAKE_BINARY_DIR}/package/Zelbin_SerialConfigVersion.cmake
    DESTINATION lib/cmake/Zelbin_Serial)
install(FILES ${PROJECT_SOURCE_DIR}/kits/pascal/ZelbinSerial.pas ${PROJECT_SOURCE_DIR}/kits/pascal/ZelbinSerialDynamic.pas
    DESTINATION kits/pascal)
install(FILES ${PROJECT_SOURCE_DIR}/kits/csharp/ZelbinSerial.cs DESTINATION kits/csharp)
