# The layers as the build sees them: every target with the folders or files
# that hold its sources and headers, and the targets it links. The test
# `layers` (scripts/check_layers.py, registered in tests/CMakeLists.txt)
# reads them from build/<preset>/layers.txt and fails when
# - a file includes a header of another target that its target does not
#   link, directly or through the targets it links;
# - a target links one of these targets directly but none of its files
#   includes a header of it;
# - a file in a test support folder belongs to no target;
# - a file of a folder includes a header of a folder it must stay below
#   (korvane_room_below).
# The header-only libraries (cmake/KorvaneThirdParty.cmake) take part under
# the top folder of their headers: `#include <asio/...>` needs korvane_asio.

# korvane_layer(<target> <folder or file>...)
#
# Paths relative to the project root. A folder holds the files directly in
# it (not those of its subfolders); a file named on its own belongs to the
# target even inside another target's folder.
function(korvane_layer target)
    list(JOIN ARGN "," paths)
    set_property(GLOBAL APPEND PROPERTY KORVANE_LAYERS "${target}|${paths}")
endfunction()

# korvane_room_below(<folder> <other folder>)
#
# Inside one target: no file of <folder> includes a header of <other folder>.
function(korvane_room_below folder other)
    set_property(GLOBAL APPEND PROPERTY KORVANE_ROOMS "${folder}\t${other}")
endfunction()

korvane_layer(korvane_asio "<asio>" "<asio.hpp>")
korvane_layer(korvane_boost "<boost>")
korvane_layer(korvane_json "<nlohmann>")
korvane_layer(korvane_cli11 "<CLI>")

# korvane_write_layers()
#
# Writes layers.txt, one line per target and path:
# "target<TAB>path<TAB>linked;linked;...", and one per room rule:
# "room<TAB>folder<TAB>other folder". Called once every target is known.
function(korvane_write_layers)
    get_property(layers GLOBAL PROPERTY KORVANE_LAYERS)
    set(text "")
    foreach(entry IN LISTS layers)
        string(REPLACE "|" ";" parts "${entry}")
        list(GET parts 0 target)
        list(REMOVE_AT parts 0)
        string(REPLACE "," ";" paths "${parts}")
        get_target_property(linked ${target} INTERFACE_LINK_LIBRARIES)
        get_target_property(type ${target} TYPE)
        if(NOT type STREQUAL "INTERFACE_LIBRARY")
            get_target_property(linked ${target} LINK_LIBRARIES)
        endif()
        set(names "")
        foreach(item IN LISTS linked)
            # $<BUILD_INTERFACE:x> and the like: the name inside.
            string(REGEX REPLACE "^\\$<[A-Z_]+:(.*)>$" "\\1" item "${item}")
            if(TARGET "${item}")
                list(APPEND names "${item}")
            endif()
        endforeach()
        foreach(path IN LISTS paths)
            string(APPEND text "${target}\t${path}\t${names}\n")
        endforeach()
    endforeach()
    get_property(rooms GLOBAL PROPERTY KORVANE_ROOMS)
    foreach(room IN LISTS rooms)
        string(APPEND text "room\t${room}\n")
    endforeach()
    file(WRITE "${PROJECT_BINARY_DIR}/layers.txt" "${text}")
endfunction()
