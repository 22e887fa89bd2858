# The header-only Debian libraries, each an INTERFACE target, all brought in
# one way (korvane_header_only below):
#
# korvane_asio    standalone Asio (libasio-dev): the console link and server
# korvane_boost   Boost.Beast on Boost.Asio (libboost-dev): the view's server
# korvane_json    nlohmann-json (nlohmann-json3-dev): state files, the view,
#                 the tool's JSON output
# korvane_cli11   CLI11 (libcli11-dev): the tool's options
#
# A library links the target of every such header it includes; the test
# `layers` checks that it does.

# korvane_header_only(<target> <probe header> <entry>...)
#
# Natively the folder holding <probe header> goes on the target's include
# path. A cross build must not put /usr/include on its path (the host's C
# library lives there), so it gets a folder of its own in the build tree
# that links to just the entries named (folders or files under /usr/include).
function(korvane_header_only target probe)
    add_library(${target} INTERFACE)
    if(CMAKE_CROSSCOMPILING)
        set(folder "${PROJECT_BINARY_DIR}/third_party/${target}")
        file(MAKE_DIRECTORY "${folder}")
        foreach(entry IN LISTS ARGN)
            if(NOT EXISTS "/usr/include/${entry}")
                message(FATAL_ERROR "/usr/include/${entry} is missing (scripts/setup.sh installs it)")
            endif()
            if(NOT EXISTS "${folder}/${entry}")
                file(CREATE_LINK "/usr/include/${entry}" "${folder}/${entry}" SYMBOLIC)
            endif()
        endforeach()
    else()
        find_path(${target}_include "${probe}")
        if(NOT ${target}_include)
            message(FATAL_ERROR "${probe} not found (scripts/setup.sh installs it)")
        endif()
        set(folder "${${target}_include}")
    endif()
    target_include_directories(${target} SYSTEM INTERFACE "${folder}")
endfunction()

find_package(Threads REQUIRED)

korvane_header_only(korvane_asio asio.hpp asio asio.hpp)
# Asio without Boost; no deprecated interfaces.
target_compile_definitions(korvane_asio INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED)
target_link_libraries(korvane_asio INTERFACE Threads::Threads)

korvane_header_only(korvane_boost boost/beast.hpp boost)
# Header-only use: no automatic linking of Boost's compiled libraries.
target_compile_definitions(korvane_boost INTERFACE BOOST_ALL_NO_LIB)
target_link_libraries(korvane_boost INTERFACE Threads::Threads)

if(WIN32)
    foreach(target IN ITEMS korvane_asio korvane_boost)
        target_compile_definitions(${target} INTERFACE _WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN)
        target_link_libraries(${target} INTERFACE ws2_32 mswsock)
    endforeach()
endif()

korvane_header_only(korvane_json nlohmann/json.hpp nlohmann)
korvane_header_only(korvane_cli11 CLI/CLI.hpp CLI)
