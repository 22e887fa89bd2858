# The layers as the build sees them: every library with the folders that hold
# its files and the libraries it links. The test `layers`
# (scripts/check_layers.py) fails when a library's file includes a header of
# another library that it does not link, directly or through others.
# Included at the end of the top-level CMakeLists.txt, once every target is
# known.

set(korvane_layer_folders
    "ember|ember/ber,ember/tree"
    "korvane_protocol|protocol"
    "korvane_protocol_net|protocol/net"
    "korvane_platform|platform,platform/posix,platform/win32"
    "korvane_host|host"
    "korvane_partner|partner"
    "korvane_console|console"
    "korvane_console_net|console/net"
    "korvane_view|view"
    "korvane_view_server|view/server"
    "korvane_cli_output|tools/korvane/output")

set(korvane_layers_text "")
foreach(entry IN LISTS korvane_layer_folders)
    string(REPLACE "|" ";" parts "${entry}")
    string(REPLACE "," ";" parts "${parts}")
    list(GET parts 0 target)
    list(REMOVE_AT parts 0)
    get_target_property(linked ${target} LINK_LIBRARIES)
    set(names "")
    foreach(item IN LISTS linked)
        # $<BUILD_INTERFACE:x> and the like: the name inside.
        string(REGEX REPLACE "^\\$<[A-Z_]+:(.*)>$" "\\1" item "${item}")
        if(TARGET "${item}")
            list(APPEND names "${item}")
        endif()
    endforeach()
    foreach(folder IN LISTS parts)
        string(APPEND korvane_layers_text "${target}\t${folder}\t${names}\n")
    endforeach()
endforeach()
file(WRITE "${PROJECT_BINARY_DIR}/layers.txt" "${korvane_layers_text}")

if(KORVANE_TESTS AND NOT CMAKE_CROSSCOMPILING)
    find_package(Python3 COMPONENTS Interpreter REQUIRED)
    add_test(NAME layers
        COMMAND "${Python3_EXECUTABLE}" "${PROJECT_SOURCE_DIR}/scripts/check_layers.py"
            "${PROJECT_BINARY_DIR}/layers.txt" "${PROJECT_SOURCE_DIR}")
    set_tests_properties(layers PROPERTIES LABELS layers TIMEOUT 60)
endif()
