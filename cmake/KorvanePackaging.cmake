# Installation, the CMake and pkg-config packages, the manual page, the
# systemd user unit and the Debian package (CPack DEB).
#
#   cmake --install build/release --prefix DIR   the tool, libkorvane-ember.a,
#                                                headers and package files, the
#                                                Wireshark dissector in
#                                                share/korvane/wireshark
#   cpack -G DEB --config build/release/CPackConfig.cmake
#                                                korvane_<version>_amd64.deb
#
# The codec library and its headers are installed on every platform; the
# tool, its manual page, the unit, pkg-config and the Debian package only
# where the tool is built (not for Windows).

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Headers keep their repository-rooted paths below include/korvane, so
# "ember/tree/root.h" is included the same way inside and outside.
set(KORVANE_INSTALL_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}/korvane")
set(KORVANE_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/Korvane")

set_target_properties(ember PROPERTIES OUTPUT_NAME korvane-ember EXPORT_NAME ember)
target_include_directories(ember INTERFACE
    "$<INSTALL_INTERFACE:${KORVANE_INSTALL_INCLUDEDIR}>")
# A library built with the sanitizers needs their run-time libraries in
# every program that links it.
if(korvane_san_link)
    target_link_options(ember INTERFACE "$<INSTALL_INTERFACE:${korvane_san_link}>")
    string(REPLACE ";" " " KORVANE_PC_EXTRA_LIBS "${korvane_san_link}")
else()
    set(KORVANE_PC_EXTRA_LIBS "")
endif()

install(TARGETS ember EXPORT KorvaneTargets
    ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}")
install(DIRECTORY "${PROJECT_SOURCE_DIR}/ember"
    DESTINATION "${KORVANE_INSTALL_INCLUDEDIR}"
    FILES_MATCHING PATTERN "*.h")
install(FILES "${PROJECT_BINARY_DIR}/generated/korvane_version.h"
    DESTINATION "${KORVANE_INSTALL_INCLUDEDIR}")

install(EXPORT KorvaneTargets
    NAMESPACE Korvane::
    DESTINATION "${KORVANE_INSTALL_CMAKEDIR}")
configure_package_config_file("${PROJECT_SOURCE_DIR}/cmake/KorvaneConfig.cmake.in"
    "${PROJECT_BINARY_DIR}/package/KorvaneConfig.cmake"
    INSTALL_DESTINATION "${KORVANE_INSTALL_CMAKEDIR}"
    PATH_VARS KORVANE_INSTALL_INCLUDEDIR)
write_basic_package_version_file("${PROJECT_BINARY_DIR}/package/KorvaneConfigVersion.cmake"
    VERSION "${PROJECT_VERSION}"
    COMPATIBILITY SameMajorVersion)
install(FILES
    "${PROJECT_BINARY_DIR}/package/KorvaneConfig.cmake"
    "${PROJECT_BINARY_DIR}/package/KorvaneConfigVersion.cmake"
    DESTINATION "${KORVANE_INSTALL_CMAKEDIR}")

if(WIN32 OR NOT TARGET korvane)
    return()
endif()

# pkg-config: the prefix is found from the .pc file's own place, so an
# install moved elsewhere (a DESTDIR, an unpacked package) still works.
file(RELATIVE_PATH KORVANE_PC_TO_PREFIX
    "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
configure_file("${PROJECT_SOURCE_DIR}/cmake/korvane.pc.in"
    "${PROJECT_BINARY_DIR}/package/korvane.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/package/korvane.pc"
    DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")

install(TARGETS korvane RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")

# The manual page, made from the tool's own --help texts at build time.
find_program(KORVANE_HELP2MAN help2man)
find_program(KORVANE_GZIP gzip)
if(KORVANE_HELP2MAN AND KORVANE_GZIP)
    set(korvane_man "${PROJECT_BINARY_DIR}/man/korvane.1")
    add_custom_command(OUTPUT "${korvane_man}" "${korvane_man}.gz"
        COMMAND "${CMAKE_COMMAND}"
            "-DKORVANE=$<TARGET_FILE:korvane>"
            "-DHELP2MAN=${KORVANE_HELP2MAN}"
            "-DGZIP=${KORVANE_GZIP}"
            "-DVERSION=${PROJECT_VERSION}"
            "-DOUTPUT=${korvane_man}"
            -P "${PROJECT_SOURCE_DIR}/cmake/make_manpage.cmake"
        DEPENDS korvane "${PROJECT_SOURCE_DIR}/cmake/make_manpage.cmake"
        COMMENT "Generating the manual page korvane.1"
        VERBATIM)
    add_custom_target(korvane_manpage ALL DEPENDS "${korvane_man}.gz")
    install(FILES "${korvane_man}.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
else()
    message(WARNING "help2man or gzip not found: no manual page "
        "(scripts/setup.sh test installs help2man)")
endif()

# The systemd user unit korvane@.service. Its ExecStart names the tool by the
# prefix the install actually goes to (cmake --install --prefix, CPack's
# /usr), so the unit is written at install time.
set(korvane_unit_in "${PROJECT_SOURCE_DIR}/packaging/korvane@.service.in")
set(korvane_unit_out "${PROJECT_BINARY_DIR}/package/korvane@.service")
install(CODE "
    set(KORVANE_UNIT_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    configure_file(\"${korvane_unit_in}\" \"${korvane_unit_out}\" @ONLY)
")
install(FILES "${korvane_unit_out}" DESTINATION lib/systemd/user)

# The Wireshark dissector: beside the other data files; the Debian package
# also puts it into Wireshark's global Lua plugin folder, where it is loaded
# without further steps (component wireshark_plugin, not installed by a
# plain cmake --install, whose prefix Wireshark does not read).
set(korvane_lua "${PROJECT_SOURCE_DIR}/wireshark/korvane.lua")
install(FILES "${korvane_lua}" DESTINATION "${CMAKE_INSTALL_DATADIR}/korvane/wireshark")
if(CMAKE_LIBRARY_ARCHITECTURE)
    install(FILES "${korvane_lua}"
        DESTINATION "lib/${CMAKE_LIBRARY_ARCHITECTURE}/wireshark/plugins"
        COMPONENT wireshark_plugin EXCLUDE_FROM_ALL)
    set(CPACK_INSTALL_CMAKE_PROJECTS
        "${PROJECT_BINARY_DIR};${PROJECT_NAME};ALL;/"
        "${PROJECT_BINARY_DIR};${PROJECT_NAME};wireshark_plugin;/")
endif()

# The Debian package: korvane_<version>_<arch>.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvane)
set(CPACK_PACKAGE_VENDOR "Korvane")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "The korvane tool (encode, decode, dump, reencode, serve, partner), the\n"
    "Ember codec library libkorvane-ember.a and the partner library\n"
    "libkorvane-partner.so (C interface korvane_partner.h) with their headers,\n"
    "CMake and pkg-config files, the manual page, the systemd user unit\n"
    "korvane@.service (systemctl --user start korvane@NAME), and the\n"
    "Wireshark dissector of the console link in Wireshark's Lua plugin folder.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Korvane developers <korvane@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES OFF)
include(CPack)
