# Reference documentation of the public headers (Doxygen): the docs target
# writes <build>/docs/html/index.html. A public class, function, parameter
# or return value without documentation, or a broken documentation command,
# fails the target; the messages are in <build>/docs/warnings.log.
find_package(Doxygen QUIET)
set(KV_OS_DOCS_DIR ${PROJECT_BINARY_DIR}/docs)
if(DOXYGEN_FOUND)
  configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${KV_OS_DOCS_DIR}/Doxyfile @ONLY)
  file(GLOB kv_docs_inputs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/OS/*.h ${PROJECT_SOURCE_DIR}/docs/*.md)
  add_custom_command(OUTPUT ${KV_OS_DOCS_DIR}/html/index.html
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${KV_OS_DOCS_DIR}/html ${KV_OS_DOCS_DIR}/warnings.log
    COMMAND ${DOXYGEN_EXECUTABLE} ${KV_OS_DOCS_DIR}/Doxyfile
    DEPENDS ${kv_docs_inputs} ${KV_OS_DOCS_DIR}/Doxyfile ${PROJECT_BINARY_DIR}/include/OS/osversion.h
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    COMMENT "Reference documentation: ${KV_OS_DOCS_DIR}/html/index.html" VERBATIM)
  add_custom_target(docs DEPENDS ${KV_OS_DOCS_DIR}/html/index.html)
else()
  add_custom_target(docs
    COMMAND ${CMAKE_COMMAND} -E echo "docs: doxygen was not found (Debian: apt-get install doxygen)"
    COMMAND ${CMAKE_COMMAND} -E false)
endif()
