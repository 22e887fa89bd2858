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
    "[ENVIRONMENT]\n"
    ".TP\n.B KORVANE_RUNTIME_DIR\n"
    "The folder where services and partners meet: the endpoint of each window is a "
    "Unix domain socket named after it there. Created with mode 0700; a folder of "
    "another user, or one that others can write to, is refused.\n"
    ".TP\n.B XDG_RUNTIME_DIR\n"
    "When KORVANE_RUNTIME_DIR is not set, the folder is \\fI$XDG_RUNTIME_DIR/korvane\\fR "
    "(an absolute path only), else \\fI/tmp/korvane-<uid>\\fR.\n"
    ".TP\n.B KORVANE_SEND_TIMEOUT_MS\n"
    "How long, in milliseconds, a send to another process waits for its answer "
    "(default 5000) before it fails.\n"
    "[EXIT STATUS]\n"
    ".TP\n.B 0\nSuccess.\n"
    ".TP\n.B 1\nNothing produced (no report, no complete message, nothing to send); "
    "the reason is on standard error.\n"
    ".TP\n.B 2\nUsage or I/O error (an unreadable input, a standard output that cannot "
    "be written), or a command line refused by \\fBencode --strict\\fR; "
    "the reason is on standard error.\n"
    "[SEE ALSO]\n"
    ".BR systemctl (1),\n"
    ".BR journalctl (1).\n"
    "The README.md and docs/ of the source tree describe the service, the partner "
    "protocol and the tool in full.\n"
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
# help2man fills the indented blocks of --help (the usage lines, the
# examples) into one paragraph each; keep them one per line.
file(READ "${OUTPUT}" roff)
string(REPLACE ";" "@SEMICOLON@" roff "${roff}")
string(REPLACE "\n" ";" lines "${roff}")
set(roff "")
set(in_block FALSE)
set(after_text FALSE)
foreach(line IN LISTS lines)
    if(line MATCHES "^\\.")
        if(line STREQUAL ".IP")
            set(in_block TRUE)
        else()
            set(in_block FALSE)
        endif()
        set(after_text FALSE)
    elseif(in_block AND after_text AND NOT line STREQUAL "")
        string(APPEND roff ".br\n")
    else()
        set(after_text TRUE)
    endif()
    string(APPEND roff "${line}\n")
endforeach()
string(REGEX REPLACE "\n$" "" roff "${roff}")
string(REPLACE "@SEMICOLON@" ";" roff "${roff}")
file(WRITE "${OUTPUT}" "${roff}")

execute_process(COMMAND "${GZIP}" -9 -n -f -k "${OUTPUT}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip failed (${status})")
endif()
