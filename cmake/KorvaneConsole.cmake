# The console simulator's libraries, included by the top-level CMakeLists.txt.
#
# korvane_console      console/*.cpp: parameter store, state file, the
#                      simulator and the link's framer; no sockets.
# korvane_console_net  console/net/*.cpp: the TCP side on standalone
#                      Asio (libasio-dev), header-only.

korvane_glob_sources(console_sources "console/*.cpp")
korvane_add_static_library(korvane_console ${console_sources})
korvane_layer(korvane_console console)
target_link_libraries(korvane_console PUBLIC korvane_protocol ember korvane_json)

korvane_glob_sources(console_net_sources "console/net/*.cpp")
korvane_add_static_library(korvane_console_net ${console_net_sources})
korvane_layer(korvane_console_net console/net)
target_link_libraries(korvane_console_net PUBLIC korvane_console korvane_protocol_net korvane_asio)
