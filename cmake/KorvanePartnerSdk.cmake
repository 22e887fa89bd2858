# The partner SDK: the C interface to the partner library as a shared
# library, its install (CMake package target Korvane::partner, pkg-config
# korvane-partner, headers beside the codec's) and the examples (their tests
# are in tests/CMakeLists.txt).
#
#   libkorvane-partner.so.<version> (soname libkorvane-partner.so.<major>)
#   korvane-partner.dll with its import library libkorvane-partner.dll.a
#
# Included by the top-level CMakeLists.txt after KorvanePackaging.

if(NOT TARGET korvane_partner OR KORVANE_FUZZ)
    # (Fuzz builds have no use for it.)
    message(STATUS "No partner library (partner/) or a fuzz build: no partner SDK")
    return()
endif()

enable_language(C)
set(CMAKE_C_STANDARD 11)
set(CMAKE_C_STANDARD_REQUIRED ON)

# Everything the shared library takes in must be position-independent.
set_target_properties(ember korvane_protocol korvane_protocol_net korvane_platform korvane_partner
    PROPERTIES
    POSITION_INDEPENDENT_CODE ON)

korvane_glob_sources(partner_c_sources "partner/c_api/*.cpp")
add_library(korvane_partner_c SHARED ${partner_c_sources})
target_include_directories(korvane_partner_c PUBLIC
    "$<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/generated/partner>"
    "$<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/partner/c_api>"
    "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/korvane>")
target_compile_definitions(korvane_partner_c PRIVATE KORVANE_PARTNER_BUILDING)
target_link_libraries(korvane_partner_c PRIVATE
    korvane_partner korvane_version
    $<BUILD_INTERFACE:korvane_warnings> $<BUILD_INTERFACE:korvane_sanitizers>)
set_target_properties(korvane_partner_c PROPERTIES
    OUTPUT_NAME korvane-partner
    EXPORT_NAME partner
    VERSION "${PROJECT_VERSION}"
    SOVERSION "${PROJECT_VERSION_MAJOR}"
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
if(WIN32)
    # korvane-partner.dll, no "lib" in front; the C++ and thread run-times
    # go inside, so the DLL needs nothing beside it but Windows' own.
    set_target_properties(korvane_partner_c PROPERTIES PREFIX "")
    target_link_options(korvane_partner_c PRIVATE -static)
else()
    # Only the interface leaves the library, under a versioned name.
    set(korvane_partner_map "${PROJECT_SOURCE_DIR}/partner/c_api/korvane_partner.map")
    target_link_options(korvane_partner_c PRIVATE "-Wl,--version-script=${korvane_partner_map}")
    if(NOT korvane_san_link)
        # (A sanitizer's run-time may come with the program instead.)
        target_link_options(korvane_partner_c PRIVATE -Wl,--no-undefined)
    endif()
    set_property(TARGET korvane_partner_c APPEND PROPERTY LINK_DEPENDS "${korvane_partner_map}")
endif()
if(korvane_san_link)
    # Built with the sanitizers: every program that links it needs them.
    target_link_options(korvane_partner_c INTERFACE "$<INSTALL_INTERFACE:${korvane_san_link}>")
endif()
add_library(Korvane::partner ALIAS korvane_partner_c)

# Install: the library, its header beside the codec's, the CMake target.
install(TARGETS korvane_partner_c EXPORT KorvaneTargets
    LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
    ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}"
    RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES "${KORVANE_PARTNER_HEADER}"
    "${PROJECT_SOURCE_DIR}/partner/c_api/korvane_partner.hpp"
    DESTINATION "${KORVANE_INSTALL_INCLUDEDIR}")
if(NOT WIN32)
    configure_file("${PROJECT_SOURCE_DIR}/cmake/korvane-partner.pc.in"
        "${PROJECT_BINARY_DIR}/package/korvane-partner.pc" @ONLY)
    install(FILES "${PROJECT_BINARY_DIR}/package/korvane-partner.pc"
        DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
endif()

if(NOT WIN32)
    # The Python package korvane (python/): the module where Debian's
    # Python finds it, and the package's sources for `pip install`.
    install(DIRECTORY "${PROJECT_SOURCE_DIR}/python/korvane"
        DESTINATION "lib/python3/dist-packages"
        FILES_MATCHING PATTERN "*.py" PATTERN "py.typed")
    install(FILES "${PROJECT_SOURCE_DIR}/python/pyproject.toml" "${PROJECT_SOURCE_DIR}/python/README.md"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/korvane/python")
    install(DIRECTORY "${PROJECT_SOURCE_DIR}/python/korvane"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/korvane/python"
        FILES_MATCHING PATTERN "*.py" PATTERN "py.typed")
endif()

# ---------------------------------------------------------------------------
# Examples (examples/): built with the project; the partners run against a
# real service in the tests of tests/CMakeLists.txt.
# ---------------------------------------------------------------------------
add_executable(codec_example "${PROJECT_SOURCE_DIR}/examples/codec/codec_example.cpp")
target_link_libraries(codec_example PRIVATE ember korvane_warnings korvane_sanitizers)

add_executable(partner_example "${PROJECT_SOURCE_DIR}/examples/partner/partner_example.cpp")
# Built as a partner developer builds it: the SDK's headers and shared library.
target_link_libraries(partner_example PRIVATE korvane_partner_c korvane_warnings korvane_sanitizers)

# The C header compiles as C, on its own.
add_library(korvane_partner_c_check OBJECT "${PROJECT_SOURCE_DIR}/partner/c_api/header_check.c")
target_link_libraries(korvane_partner_c_check PRIVATE korvane_warnings)
target_include_directories(korvane_partner_c_check PRIVATE "${PROJECT_BINARY_DIR}/generated/partner")
