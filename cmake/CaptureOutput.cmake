# cmake -DPROGRAM=... -DARGUMENT=... -DOUTPUT=... -P CaptureOutput.cmake
# Writes what a program prints to OUTPUT. The file is written only when the
# program succeeds, so a program that cannot print it fails the build rather
# than installing an empty or half page.
execute_process(
  COMMAND ${PROGRAM} ${ARGUMENT}
  OUTPUT_VARIABLE _text
  ERROR_VARIABLE _errors
  RESULT_VARIABLE _result)
if(NOT _result EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} ${ARGUMENT} failed (${_result}): ${_errors}")
endif()
if(_text STREQUAL "")
  message(FATAL_ERROR "${PROGRAM} ${ARGUMENT} printed nothing")
endif()
file(WRITE ${OUTPUT}.tmp "${_text}")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
