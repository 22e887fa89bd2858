# Writes the manual page korvane.1 (and korvane.1.gz) with help2man from the
# tool's own texts: `korvane --help` for the synopsis and description,
# `korvane --version` for the version, then one COMMANDS subsection per
# command listed there with its `--help` text. The version must be VERSION.
#
# cmake -DKORVANE=<tool> -DHELP2MAN=<help2man> -DGZIP=<gzip> -DVERSION=<x.y.z.w>
#       -DOUTPUT=<dir/korvane.1> -P make_manpage.cmake

foreach(var KORVANE HELP2MAN GZIP VERSION OUTPUT)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "make_manpage.cmake needs -D${var}=...")
    endif()
endforeach()

execute_process(COMMAND "${KORVANE}" --help
    OUTPUT_VARIABLE usage RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "'${KORVANE} --help' failed (${status})")
endif()

# The command names: the indented lines of the "commands:" paragraph.
string(REPLACE "\n" ";" lines "${usage}")
set(in_commands FALSE)
set(commands "")
foreach(line IN LISTS lines)
    if(line MATCHES "^[Cc]ommands:")
        set(in_commands TRUE)
    elseif(in_commands AND line STREQUAL "")
        set(in_commands FALSE)
    elseif(in_commands AND line MATCHES "^  ([a-z][a-z0-9-]*)( |$)")
        list(APPEND commands "${CMAKE_MATCH_1}")
    endif()
endforeach()
if(NOT commands)
    message(FATAL_ERROR "no commands found in '${KORVANE} --help'")
endif()

# roff: a backslash is written \e; a line may not begin with . or '.
function(roff_quote out text)
    string(REPLACE "\\" "\\e" text "${text}")
    string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(include "[COMMANDS]\n")
foreach(command IN LISTS commands)
    execute_process(COMMAND "${KORVANE}" ${command} --help
        OUTPUT_VARIABLE help RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "'${KORVANE} ${command} --help' failed (${status})")
    endif()
    roff_quote(help "${help}")
    string(APPEND include ".SS \"korvane ${command}\"\n.nf\n${help}.fi\n")
endforeach()
string(APPEND include
    "[FILES]\n"
    ".TP\n.I /usr/lib/systemd/user/korvane@.service\n"
    "The systemd user unit: \\fBsystemctl --user start korvane@demo\\fR runs "
    "\\fBkorvane serve demo\\fR, \\fBsystemctl --user stop korvane@demo\\fR stops it "
    "with SIGTERM, \\fBjournalctl --user -u korvane@demo\\fR shows its log.\n")

execute_process(COMMAND "${KORVANE}" --version
    OUTPUT_VARIABLE version_line RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT version_line MATCHES "^korvane ${VERSION}\n$")
    message(FATAL_ERROR "'${KORVANE} --version' gave '${version_line}' (${status}), "
        "not 'korvane ${VERSION}'")
endif()

get_filename_component(dir "${OUTPUT}" DIRECTORY)
file(MAKE_DIRECTORY "${dir}")
file(WRITE "${dir}/korvane.h2m" "${include}")

execute_process(COMMAND "${HELP2MAN}" --no-info --section=1
        "--name=Ember codec service for mixing consoles"
        "--include=${dir}/korvane.h2m"
        "--output=${OUTPUT}" "${KORVANE}"
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "help2man failed (${status})")
endif()
execute_process(COMMAND "${GZIP}" -9 -n -f -k "${OUTPUT}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip failed (${status})")
endif()
