# Run by cpack while it makes the package (not at configure time, which stays quick): the
# run-time dependencies that dpkg-shlibdeps cannot see, looked up on the building machine.
if(CPACK_GENERATOR STREQUAL "DEB")
  execute_process(
    COMMAND ${CPACK_KELO_RUNTIME_DEPENDS_SCRIPT} ${CPACK_KELO_GST_ELEMENTS}
    OUTPUT_VARIABLE _depends OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE _result)
  if(NOT _result EQUAL 0 OR _depends STREQUAL "")
    message(FATAL_ERROR "The run-time dependencies could not be computed (see above)")
  endif()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${_depends}")
endif()
