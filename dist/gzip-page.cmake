# cmake -DSCDOC=... -DGZIP=... -DIN=page.scd -DOUT=page.1.gz [-DROFF=page.1] -P gzip-page.cmake
#
# Turns one scdoc page into roff and compresses it the way Debian wants
# manual pages: gzip -9 without the file's name and time (-n), so the
# package is the same byte for byte whenever it is built. The date in the
# page comes from SOURCE_DATE_EPOCH, which the caller sets to the release.
# Without SCDOC, IN is compressed as it stands (the Debian changelog).
if(SCDOC)
  execute_process(COMMAND "${SCDOC}" INPUT_FILE "${IN}" OUTPUT_FILE "${ROFF}"
                  RESULT_VARIABLE status ERROR_VARIABLE error)
  if(NOT status EQUAL 0)
    file(REMOVE "${ROFF}")
    message(FATAL_ERROR "scdoc could not read ${IN}: ${error}")
  endif()
  set(IN "${ROFF}")
endif()
execute_process(COMMAND "${GZIP}" -9n -c INPUT_FILE "${IN}" OUTPUT_FILE "${OUT}"
                RESULT_VARIABLE status ERROR_VARIABLE error)
if(NOT status EQUAL 0)
  file(REMOVE "${OUT}")
  message(FATAL_ERROR "gzip failed on ${IN}: ${error}")
endif()
