# Run at install time in a Windows build (dist/windows.cmake): copies into
# DESTINATION every DLL in SEARCH_DIR that FILES import, directly or through
# one another, read from their import tables with OBJDUMP. What is not in
# SEARCH_DIR is taken for a DLL of Windows' own and only listed.
#
#   FILES        the programs and plugins (a list)
#   SEARCH_DIR   where Qt's DLLs and the MinGW runtime are
#   DESTINATION  the installed programs' folder
#   OBJDUMP      the MinGW objdump
set(queue ${FILES})
set(copied)
set(system)
while(queue)
  list(POP_FRONT queue file)
  execute_process(COMMAND ${OBJDUMP} -p ${file} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} cannot read ${file}")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${dump}")
  foreach(import IN LISTS imports)
    string(REGEX REPLACE "^DLL Name: " "" name "${import}")
    list(FIND copied ${name} seen_copied)
    list(FIND system ${name} seen_system)
    if(EXISTS "${SEARCH_DIR}/${name}")
      if(seen_copied EQUAL -1)
        list(APPEND copied ${name})
        list(APPEND queue "${SEARCH_DIR}/${name}")
      endif()
    elseif(seen_system EQUAL -1)
      list(APPEND system ${name})
    endif()
  endforeach()
endwhile()
list(SORT copied)
list(SORT system CASE INSENSITIVE)
message(STATUS "DLLs installed beside the programs: ${copied}")
message(STATUS "Windows' own DLLs they use: ${system}")
foreach(name IN LISTS copied)
  file(INSTALL "${SEARCH_DIR}/${name}" DESTINATION "${DESTINATION}")
endforeach()
