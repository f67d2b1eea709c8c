# Writes a text file for the release folders, run as a build step:
#
#   cmake -DIN=man/encscreen.1 -DOUT=encscreen.txt -DMAN=ON -DCRLF=ON -P text_file.cmake
#
# MAN=ON renders a manual page to plain text: groff's ASCII device with the
# old overstrike bold and underline (-P-c) rather than terminal colour codes,
# which `col -bx` then removes, so that Notepad shows clean text. CRLF=ON ends
# every line in CR LF, the line ending every Windows editor reads.
if(MAN)
  execute_process(
    COMMAND groff -man -Tascii -P-c -rLL=78n "${IN}"
    COMMAND col -bx
    OUTPUT_VARIABLE text
    RESULT_VARIABLE status
    ERROR_VARIABLE errors)
  if(NOT status EQUAL 0 OR NOT errors STREQUAL "")
    message(FATAL_ERROR "rendering ${IN} failed (${status}): ${errors}")
  endif()
else()
  file(READ "${IN}" text)
endif()
if(CRLF)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
endif()
file(WRITE "${OUT}" "${text}")
