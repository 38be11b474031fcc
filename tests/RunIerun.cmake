# Runs ierun as a user does and compares what it prints and its exit status, byte for byte.
#   cmake -DIERUN=<ierun> -DCASE=<case folder> -DOUT_DIR=<scratch folder> -P RunIerun.cmake
# A case folder holds:
#   args      (optional) the command-line arguments, one a line, names relative to the folder
#   stdin     (optional) standard input; without it standard input is empty
#   expected  everything ierun writes to standard output, exactly (the engine ends its lines
#             with CR LF, so the file keeps them; .gitattributes keeps git from changing them)
#   status    the exit status
# ierun runs in the case folder, so the files a case names are found there.
set(_args)
if(EXISTS "${CASE}/args")
  file(STRINGS "${CASE}/args" _args)
endif()
set(_input "/dev/null")
if(EXISTS "${CASE}/stdin")
  set(_input "${CASE}/stdin")
endif()
# The output goes through a file: CMake's text reads drop CR, its hexadecimal reads do not.
set(_outFile "${OUT_DIR}/ierun-output.txt")
execute_process(COMMAND "${IERUN}" ${_args}
  WORKING_DIRECTORY "${CASE}"
  INPUT_FILE "${_input}"
  OUTPUT_FILE "${_outFile}"
  ERROR_VARIABLE _err
  RESULT_VARIABLE _status)
file(READ "${_outFile}" _outHex HEX)
file(READ "${CASE}/expected" _expectedHex HEX)
file(STRINGS "${CASE}/status" _expectedStatus LIMIT_COUNT 1)
set(_failed FALSE)
if(NOT _outHex STREQUAL _expectedHex)
  # Shown with every CR made visible, so that a lost or added CR shows.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\1 " _shownOut "${_outHex}")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\1 " _shownExpected "${_expectedHex}")
  file(READ "${_outFile}" _out)
  message("standard output differs\n--- printed (CR dropped):\n${_out}\n"
          "--- expected bytes:\n${_shownExpected}\n--- printed bytes:\n${_shownOut}")
  set(_failed TRUE)
endif()
if(NOT _status STREQUAL _expectedStatus)
  message("exit status ${_status}, expected ${_expectedStatus}")
  set(_failed TRUE)
endif()
if(NOT _err STREQUAL "")
  message("standard error: ${_err}")
  set(_failed TRUE)
endif()
if(_failed)
  message(FATAL_ERROR "ierun case ${CASE} failed")
endif()
