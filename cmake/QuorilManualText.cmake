# Renders the manual page PAGE as plain text with CRLF line ends into TEXT:
#   cmake -DMANDOC=... -DPAGE=... -DTEXT=... -P QuorilManualText.cmake
execute_process(COMMAND ${MANDOC} -Tascii -Owidth=78 ${PAGE}
  OUTPUT_VARIABLE text RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "mandoc failed on ${PAGE}")
endif()
# mandoc marks bold and underlined letters by overstriking: X BS X, _ BS X.
string(ASCII 8 backspace)
string(REGEX REPLACE "[^\n]${backspace}" "" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${TEXT} "${text}")
