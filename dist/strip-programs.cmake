# Run by CPack on its staging folder before it packs it (CPACK_PRE_BUILD_SCRIPTS).
find_program(strip NAMES strip REQUIRED)
file(GLOB programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*")
if(NOT programs)
  message(FATAL_ERROR "No programs in ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin to strip")
endif()
foreach(program IN LISTS programs)
  execute_process(COMMAND ${strip} --remove-section=.comment --remove-section=.note
                          --strip-unneeded ${program}
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "strip failed on ${program}")
  endif()
endforeach()
