# The console simulator's libraries, included by the top-level CMakeLists.txt.
#
# korvane_console      console/*.cpp: parameter store, state file, the
#                      simulator and the link's framer; no sockets.
# korvane_console_net  console/net/*.cpp: the TCP side on standalone
#                      Asio (libasio-dev), header-only.
#
# Asio, nlohmann-json and Boost (for Beast, the view's HTTP server) are
# header-only Debian packages under /usr/include.
# A cross build must not put /usr/include on its path (the host's C library
# lives there), so it gets a folder in the build tree that links to just
# those headers.

set(korvane_third_party_include "")
if(CMAKE_CROSSCOMPILING)
    set(korvane_third_party_include "${PROJECT_BINARY_DIR}/third_party/include")
    file(MAKE_DIRECTORY "${korvane_third_party_include}")
    foreach(header IN ITEMS asio asio.hpp nlohmann boost)
        if(NOT EXISTS "/usr/include/${header}")
            message(FATAL_ERROR "/usr/include/${header} is missing (scripts/setup.sh installs it)")
        endif()
        if(NOT EXISTS "${korvane_third_party_include}/${header}")
            file(CREATE_LINK "/usr/include/${header}" "${korvane_third_party_include}/${header}" SYMBOLIC)
        endif()
    endforeach()
endif()

add_library(korvane_third_party INTERFACE)
if(korvane_third_party_include)
    target_include_directories(korvane_third_party SYSTEM INTERFACE "${korvane_third_party_include}")
else()
    find_path(korvane_asio_include asio.hpp REQUIRED)
    find_path(korvane_json_include nlohmann/json.hpp REQUIRED)
    find_path(korvane_beast_include boost/beast.hpp REQUIRED)
endif()
# Asio without Boost; no deprecated interfaces.
target_compile_definitions(korvane_third_party INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED)
if(WIN32)
    target_compile_definitions(korvane_third_party INTERFACE _WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN)
endif()

korvane_glob_sources(console_sources "console/*.cpp")
korvane_add_static_library(korvane_console ${console_sources})
target_link_libraries(korvane_console PUBLIC korvane_protocol korvane_host ember korvane_third_party)

find_package(Threads REQUIRED)
korvane_glob_sources(console_net_sources "console/net/*.cpp")
korvane_add_static_library(korvane_console_net ${console_net_sources})
target_link_libraries(korvane_console_net PUBLIC korvane_console korvane_protocol_net korvane_third_party
    Threads::Threads)
if(WIN32)
    target_link_libraries(korvane_console_net PUBLIC ws2_32 mswsock)
endif()
