# The partner SDK: the C interface to the partner library as a shared
# library, its install (CMake package target Korvane::partner, pkg-config
# korvane-partner, headers beside the codec's), the examples and their tests.
#
#   libkorvane-partner.so.<version> (soname libkorvane-partner.so.<major>)
#   korvane-partner.dll with its import library libkorvane-partner.dll.a
#
# Included by the top-level CMakeLists.txt after KorvanePackaging.

if(KORVANE_TESTS AND NOT WIN32 AND TARGET korvane)
    # The documented wire protocol, spoken by a partner written from
    # docs/PARTNER.md alone, against a real service.
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
    add_test(NAME docs_wire_partner
        COMMAND "${Python3_EXECUTABLE}" "${PROJECT_SOURCE_DIR}/tests/docs/wire_partner.py"
            "$<TARGET_FILE:korvane>")
    set_tests_properties(docs_wire_partner PROPERTIES LABELS docs TIMEOUT 120)
endif()

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
# real service in the tests below.
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

if(NOT KORVANE_TESTS)
    return()
endif()

find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME example_codec COMMAND codec_example)
set_tests_properties(example_codec PROPERTIES
    LABELS examples
    PASS_REGULAR_EXPRESSION "decoded /1/2/3/4/5 = 100\ndecoded /7/1/2/3/4 = -75")

if(WIN32)
    # tests/examples/partner_example_win32_test.cpp runs it against
    # Korvane.exe under Wine (one program on the desktop at a time).
    if(TARGET examples_tests)
        add_dependencies(examples_tests partner_example)
        # The C interface through the DLL's import library.
        target_link_libraries(examples_tests PRIVATE korvane_partner_c)
        target_compile_definitions(examples_tests PRIVATE
            KORVANE_PARTNER_EXAMPLE_PATH="$<TARGET_FILE:partner_example>")
        set_tests_properties(examples_tests PROPERTIES RESOURCE_LOCK korvane_desktop)
    endif()
    if(TEST docs_tests)
        # The blocks of docs/PARTNER.md against Korvane.exe.
        set_tests_properties(docs_tests PROPERTIES RESOURCE_LOCK korvane_desktop)
    endif()
    return()
endif()

# Against `korvane serve` in a runtime folder of the test's own.
set(korvane_example_runner "${PROJECT_SOURCE_DIR}/examples/run_with_service.py")
add_test(NAME example_partner
    COMMAND "${Python3_EXECUTABLE}" "${korvane_example_runner}" "$<TARGET_FILE:korvane>"
        --expect "report: 1,2,3,0,4,75" --expect "keep-alive echoed"
        -- "$<TARGET_FILE:partner_example>" --service example)
add_test(NAME example_python_partner
    COMMAND "${Python3_EXECUTABLE}" "${korvane_example_runner}" "$<TARGET_FILE:korvane>"
        --expect "report: '1,2,3,0,4,75'" --expect "keep-alive echoed 13"
        -- "${Python3_EXECUTABLE}" "${PROJECT_SOURCE_DIR}/examples/python/partner.py"
        --library "$<TARGET_FILE:korvane_partner_c>" --service example)
set_tests_properties(example_partner example_python_partner PROPERTIES
    LABELS examples TIMEOUT 120)
# The Python package against `korvane serve`, with Debian's Python and
# pytest (scripts/setup.sh, test group).
find_program(KORVANE_SYSTEM_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(KORVANE_SYSTEM_PYTHON)
    add_test(NAME python_partner
        COMMAND "${KORVANE_SYSTEM_PYTHON}" -m pytest -q -p no:cacheprovider
            "${PROJECT_SOURCE_DIR}/tests/python")
    set(korvane_python_env
        "KORVANE_CLI=$<TARGET_FILE:korvane>"
        "KORVANE_PARTNER_LIBRARY=$<TARGET_FILE:korvane_partner_c>"
        "PYTHONPATH=${PROJECT_SOURCE_DIR}/python")
    if(korvane_san_link)
        execute_process(COMMAND "${CMAKE_CXX_COMPILER}" -print-file-name=libasan.so
            OUTPUT_VARIABLE korvane_python_asan OUTPUT_STRIP_TRAILING_WHITESPACE)
        list(APPEND korvane_python_env "LD_PRELOAD=${korvane_python_asan}" "ASAN_OPTIONS=detect_leaks=0")
    endif()
    set_tests_properties(python_partner PROPERTIES
        LABELS python TIMEOUT 120 ENVIRONMENT "${korvane_python_env}")
endif()

if(TARGET partner_c_tests)
    # tests/partner_c: the C interface through the shared library.
    target_link_libraries(partner_c_tests PRIVATE korvane_partner_c)
endif()
if(korvane_san_link)
    # Python is no sanitized program: the library's run-time goes in first.
    execute_process(COMMAND "${CMAKE_CXX_COMPILER}" -print-file-name=libasan.so
        OUTPUT_VARIABLE korvane_libasan OUTPUT_STRIP_TRAILING_WHITESPACE)
    set_tests_properties(example_python_partner PROPERTIES
        ENVIRONMENT "LD_PRELOAD=${korvane_libasan};ASAN_OPTIONS=detect_leaks=0;PYTHONPATH=${PROJECT_SOURCE_DIR}/python")
else()
    set_tests_properties(example_python_partner PROPERTIES
        ENVIRONMENT "PYTHONPATH=${PROJECT_SOURCE_DIR}/python")
endif()
