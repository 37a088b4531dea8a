# What `cmake --install` puts into a prefix, and the CPack archives made from
# it. The paths inside the prefix are the same for both flavours:
#   include/ZantrelLayer.h
#   bin/ZantrelLayer.dll                                   (Windows)
#   lib/ZantrelLayer.dll.a   MinGW import library          (Windows)
#   lib/ZantrelLayer.lib     Microsoft-style import library (Windows, /SAFESEH-safe)
#   lib/ZantrelLayer.def     the export list with ordinals (Windows)
#   lib/libZantrelLayer.so.MAJOR.MINOR.PATCH and its links (Linux)
#   lib/cmake/ZantrelLayer/  find_package(ZantrelLayer) -> ZantrelLayer::ZantrelLayer
#   lib/pkgconfig/ZantrelLayer.pc
#   share/doc/ZantrelLayer/  README and the API reference in HTML
include(CMakePackageConfigHelpers)

set(ZL_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/ZantrelLayer)

if(NOT WIN32)
  # Libraries installed beside it (the sibling library) are found from the
  # library's own directory, whatever the host's search path.
  set_target_properties(ZantrelLayer PROPERTIES INSTALL_RPATH "$ORIGIN")
endif()
install(TARGETS ZantrelLayer EXPORT ZantrelLayerTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# The sibling image-conversion library ships beside the layer library. It
# joins the export set because the layer library links it; its headers stay
# out of the package (hosts call only the layer library), so its include
# directories count in the build tree alone.
if(TARGET Quoravel)
  get_target_property(ZL_QUORAVEL_INCLUDES Quoravel INTERFACE_INCLUDE_DIRECTORIES)
  if(ZL_QUORAVEL_INCLUDES)
    list(TRANSFORM ZL_QUORAVEL_INCLUDES REPLACE "^(.+)$" "$<BUILD_INTERFACE:\\1>")
    set_property(TARGET Quoravel PROPERTY INTERFACE_INCLUDE_DIRECTORIES "${ZL_QUORAVEL_INCLUDES}")
  endif()
  install(TARGETS Quoravel EXPORT ZantrelLayerTargets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/include/ZantrelLayer.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

if(WIN32)
  # Hosts built with Microsoft's tools link against ZantrelLayer.lib, written
  # from the same .def that names the DLL's exports and ordinals. LLVM's
  # dlltool writes the short import members Microsoft's own libraries hold,
  # which link under /SAFESEH (Visual Studio's default for Win32); GNU
  # dlltool's members lack the safe-exception-handler mark and are refused.
  set(ZL_DEF_FILE ${PROJECT_SOURCE_DIR}/src/module/ZantrelLayer.def)
  set(ZL_MSVC_IMPORT_LIB ${PROJECT_BINARY_DIR}/lib/ZantrelLayer.lib)
  find_program(ZL_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)
  add_custom_command(OUTPUT ${ZL_MSVC_IMPORT_LIB}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/lib
    COMMAND ${ZL_LLVM_DLLTOOL} -m i386 -d ${ZL_DEF_FILE} -D ZantrelLayer.dll -l ${ZL_MSVC_IMPORT_LIB}
    DEPENDS ${ZL_DEF_FILE}
    COMMENT "MSVC-style import library ZantrelLayer.lib"
    VERBATIM)
  add_custom_target(zl_msvc_import_lib ALL DEPENDS ${ZL_MSVC_IMPORT_LIB})
  install(FILES ${ZL_MSVC_IMPORT_LIB} ${ZL_DEF_FILE} DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()

install(EXPORT ZantrelLayerTargets NAMESPACE ZantrelLayer:: DESTINATION ${ZL_INSTALL_CMAKEDIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ZantrelLayerConfig.cmake.in
  ${PROJECT_BINARY_DIR}/package/ZantrelLayerConfig.cmake
  INSTALL_DESTINATION ${ZL_INSTALL_CMAKEDIR})
# The version file also refuses a package built for another pointer size, so
# a 64-bit project never picks up the 32-bit DLL.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/ZantrelLayerConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/package/ZantrelLayerConfig.cmake
              ${PROJECT_BINARY_DIR}/package/ZantrelLayerConfigVersion.cmake
        DESTINATION ${ZL_INSTALL_CMAKEDIR})

# pkg-config: the prefix is found from the .pc file's own place, so the
# installed tree can be moved or unpacked from an archive anywhere.
file(RELATIVE_PATH ZL_PC_TO_PREFIX /zl-prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /zl-prefix)
string(REGEX REPLACE "/$" "" ZL_PC_TO_PREFIX "${ZL_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/ZantrelLayer.pc.in ${PROJECT_BINARY_DIR}/package/ZantrelLayer.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/package/ZantrelLayer.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(TARGET docs)
  install(DIRECTORY ${PROJECT_BINARY_DIR}/docs/html/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/html)
endif()

# Archives of the installed tree: a .zip for Windows hosts, a .tar.gz on Linux.
set(CPACK_PACKAGE_NAME ZantrelLayer)
set(CPACK_PACKAGE_VENDOR Zantrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Layers of straight-alpha ARGB pixels: compositing, fill, copy and transforms")
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win32)
else()
  set(CPACK_GENERATOR TGZ)
  set(CPACK_SYSTEM_NAME Linux-${CMAKE_SYSTEM_PROCESSOR})
endif()
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
