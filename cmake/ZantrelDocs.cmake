# The API reference: Doxygen turns the comments of include/ZantrelLayer.h into
# HTML in <build>/docs/html. Any Doxygen warning (an undocumented export,
# field or argument included) fails this build step.
option(ZL_BUILD_DOCS "Build the API reference with Doxygen" ON)
if(ZL_BUILD_DOCS)
  find_program(ZL_DOXYGEN doxygen REQUIRED)
  set(ZL_DOCS_DIR ${PROJECT_BINARY_DIR}/docs)
  configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${ZL_DOCS_DIR}/Doxyfile @ONLY)
  # The stamp is written only when Doxygen succeeds, so a failed run is
  # repeated by the next build.
  add_custom_command(OUTPUT ${ZL_DOCS_DIR}/html.stamp
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${ZL_DOCS_DIR}/html
    COMMAND ${ZL_DOXYGEN} ${ZL_DOCS_DIR}/Doxyfile
    COMMAND ${CMAKE_COMMAND} -E touch ${ZL_DOCS_DIR}/html.stamp
    DEPENDS ${PROJECT_SOURCE_DIR}/include/ZantrelLayer.h ${PROJECT_SOURCE_DIR}/docs/Doxyfile.in
            ${PROJECT_SOURCE_DIR}/docs/mainpage.md
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    COMMENT "API reference (Doxygen, warnings are errors)"
    VERBATIM)
  add_custom_target(docs ALL DEPENDS ${ZL_DOCS_DIR}/html.stamp)
endif()
