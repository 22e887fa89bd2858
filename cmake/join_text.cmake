# Writes OUTPUT as the files INPUTS (a ;-list) one after the other, each
# ended by a line feed; used for the README.txt of the Windows packages.
#
# cmake -DINPUTS=<a;b> -DOUTPUT=<file> -P join_text.cmake

foreach(var INPUTS OUTPUT)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "join_text.cmake needs -D${var}=...")
    endif()
endforeach()

set(text "")
foreach(input IN LISTS INPUTS)
    file(READ "${input}" part)
    string(REGEX REPLACE "\n+$" "" part "${part}")
    string(APPEND part "\n")
    string(APPEND text "${part}")
endforeach()
file(WRITE "${OUTPUT}" "${text}")
