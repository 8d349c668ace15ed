# `cmake --install`: the C package (public header, versioned libkestlib.so, a CMake package
# giving kest::kestlib, a pkg-config file), the Octave module with its help text, and paxsim.
# Rules refer to targets by name; the public header is the one path to follow when it moves.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(KEST_PUBLIC_HEADER ${PROJECT_SOURCE_DIR}/include/kestlib.h
  CACHE FILEPATH "The public C header installed as include/kestlib.h")
set(KEST_OCTAVE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/kestmex
  CACHE STRING "Where kestmex.mex and its help text go, below the prefix")

if(TARGET kestlib)
  # libkestlib.so.<major> is the soname; the library's calls keep their C signatures within
  # a major version.
  set_target_properties(kestlib PROPERTIES
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
    PUBLIC_HEADER ${KEST_PUBLIC_HEADER})
  # Inside the build the tree's root is the include directory; installed, include/.
  set_property(TARGET kestlib PROPERTY INTERFACE_INCLUDE_DIRECTORIES
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

  install(TARGETS kestlib EXPORT kestlibTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

  set(kest_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/kestlib)
  install(EXPORT kestlibTargets NAMESPACE kest:: DESTINATION ${kest_cmake_dir})
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/kestlibConfig.cmake.in
    "@PACKAGE_INIT@\ninclude(\"\${CMAKE_CURRENT_LIST_DIR}/kestlibTargets.cmake\")\n"
    "check_required_components(kestlib)\n")
  configure_package_config_file(${CMAKE_CURRENT_BINARY_DIR}/kestlibConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/kestlibConfig.cmake INSTALL_DESTINATION ${kest_cmake_dir})
  write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/kestlibConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kestlibConfig.cmake
    ${CMAKE_CURRENT_BINARY_DIR}/kestlibConfigVersion.cmake DESTINATION ${kest_cmake_dir})

  # pkg-config: paths relative to the file, so that the installed tree can be moved.
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/kestlib.pc
    "prefix=\${pcfiledir}/../..\n"
    "libdir=\${prefix}/${CMAKE_INSTALL_LIBDIR}\n"
    "includedir=\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}\n\n"
    "Name: kestlib\n"
    "Description: C calls to a PAX neural-interface processor\n"
    "Version: ${PROJECT_VERSION}\n"
    "Cflags: -I\${includedir}\n"
    "Libs: -L\${libdir} -lkestlib\n"
    "Libs.private: -pthread\n")
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kestlib.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()

if(TARGET kestmex)
  install(TARGETS kestmex LIBRARY DESTINATION ${KEST_OCTAVE_INSTALL_DIR})
  # The help text that the build puts beside the module.
  install(FILES $<TARGET_FILE_DIR:kestmex>/kestmex.m DESTINATION ${KEST_OCTAVE_INSTALL_DIR})
endif()

if(TARGET paxsim_app)
  install(TARGETS paxsim_app RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
