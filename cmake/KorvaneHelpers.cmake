# Small helpers used by the top-level CMakeLists.txt.

# korvane_glob_sources(<out-var> [RECURSE] <pattern>...)
#
# Globs source files (patterns relative to the project root), re-checked on
# every build so that new files are picked up without editing CMake. Files
# whose name ends in _win32.cpp (or _win32_test.cpp, _win32_bench.cpp,
# _win32_fuzz.cpp) are only kept on Windows; the _posix variants only
# everywhere else.
function(korvane_glob_sources out)
    set(mode GLOB)
    set(patterns ${ARGN})
    if(patterns AND "${ARGV1}" STREQUAL "RECURSE")
        set(mode GLOB_RECURSE)
        list(REMOVE_AT patterns 0)
    endif()
    set(abs_patterns "")
    foreach(p IN LISTS patterns)
        if(IS_ABSOLUTE "${p}")
            list(APPEND abs_patterns "${p}")
        else()
            list(APPEND abs_patterns "${PROJECT_SOURCE_DIR}/${p}")
        endif()
    endforeach()
    file(${mode} found CONFIGURE_DEPENDS ${abs_patterns})
    if(WIN32)
        set(other_platform posix)
    else()
        set(other_platform win32)
    endif()
    list(FILTER found EXCLUDE REGEX "_${other_platform}(_test|_bench|_fuzz)?\\.cpp$")
    list(SORT found)
    set(${out} ${found} PARENT_SCOPE)
endfunction()

# korvane_add_static_library(<name> <source>...)
#
# A static library that links the shared warning/sanitizer settings. Its
# headers are included by their path from the repository root
# ("ember/ber/tag.h"); the test `layers` checks that every include of another
# library's header is covered by a link.
function(korvane_add_static_library name)
    add_library(${name} STATIC ${ARGN})
    target_include_directories(${name} PUBLIC "$<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>")
    # Build settings only: an installed library carries neither.
    target_link_libraries(${name} PRIVATE
        $<BUILD_INTERFACE:korvane_warnings> $<BUILD_INTERFACE:korvane_sanitizers>)
endfunction()

# korvane_use_googletest()
#
# Provides GTest::gtest, GTest::gtest_main, GTest::gmock and GTest::gmock_main.
# Native builds use the installed package; cross builds (MinGW) compile
# GoogleTest from the distribution's source tree with the cross compiler.
macro(korvane_use_googletest)
    if(NOT CMAKE_CROSSCOMPILING)
        find_package(GTest REQUIRED)
    else()
        set(KORVANE_GOOGLETEST_SOURCE_DIR "/usr/src/googletest"
            CACHE PATH "GoogleTest source tree used for cross builds")
        if(NOT EXISTS "${KORVANE_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt")
            message(FATAL_ERROR
                "No GoogleTest sources in ${KORVANE_GOOGLETEST_SOURCE_DIR} "
                "(install googletest, scripts/setup.sh windows)")
        endif()
        # Plain variables override GoogleTest's options (policy CMP0077).
        set(BUILD_GMOCK ON)
        set(INSTALL_GTEST OFF)
        set(BUILD_SHARED_LIBS OFF)
        # SYSTEM: GoogleTest headers must not trip our -Werror settings.
        add_subdirectory("${KORVANE_GOOGLETEST_SOURCE_DIR}"
            "${PROJECT_BINARY_DIR}/_deps/googletest" EXCLUDE_FROM_ALL SYSTEM)
    endif()
    foreach(korvane_gt IN ITEMS gtest gtest_main gmock gmock_main)
        if(NOT TARGET GTest::${korvane_gt} AND TARGET ${korvane_gt})
            add_library(GTest::${korvane_gt} ALIAS ${korvane_gt})
        endif()
    endforeach()
    foreach(korvane_gt IN ITEMS gtest gtest_main gmock)
        if(NOT TARGET GTest::${korvane_gt})
            message(FATAL_ERROR "GoogleTest target GTest::${korvane_gt} not available")
        endif()
    endforeach()
endmacro()
