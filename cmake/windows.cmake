# The Windows build, cross-built with Debian's mingw-w64 (toolchain file cmake/mingw-w64.cmake;
# scripts/windows/build.sh drives it). Programs link everything statically (the graphics library,
# the C and C++ runtimes, the threads library), so that no DLL has to go beside them.
#
# The graphics library is the one scripts/windows/allegro.sh cross-builds, GoogleTest the one
# scripts/windows/gtest.sh does, miniupnpc the one scripts/windows/miniupnpc.sh does; all are
# found through CMAKE_FIND_ROOT_PATH.

set(FIVEINAROW_HOST_MAKE_PICTURES "" CACHE FILEPATH
    "The picture generator built for the build machine (it draws the program's icon)")
if(NOT FIVEINAROW_HOST_MAKE_PICTURES)
    message(FATAL_ERROR "FIVEINAROW_HOST_MAKE_PICTURES: give the native make_pictures")
endif()

# A static library that a script of scripts/windows/ cross-builds into the cache, found through
# CMAKE_FIND_ROOT_PATH: the target `target` with the header `header` and the library `library`,
# compiled with `definition`, linked with the system libraries that follow.
function(windows_library target what script header library definition)
    find_path(${target}_INCLUDE_DIR ${header})
    find_library(${target}_LIBRARY ${library})
    if(NOT ${target}_INCLUDE_DIR OR NOT ${target}_LIBRARY)
        message(FATAL_ERROR "${what} for Windows is missing: scripts/windows/${script} builds "
            "it; name its folder in CMAKE_FIND_ROOT_PATH")
    endif()
    add_library(${target} INTERFACE)
    target_include_directories(${target} SYSTEM INTERFACE ${${target}_INCLUDE_DIR})
    target_compile_definitions(${target} INTERFACE ${definition})
    target_link_libraries(${target} INTERFACE ${${target}_LIBRARY} ${ARGN})
endfunction()

# Found again when those folders change: a changed patch builds the library into a new one.
if(NOT "${CMAKE_FIND_ROOT_PATH}" STREQUAL "${FIVEINAROW_FOUND_IN}")
    foreach(found allegro_INCLUDE_DIR allegro_LIBRARY GTest_DIR port_mapping_INCLUDE_DIR
            port_mapping_LIBRARY)
        unset(${found} CACHE)
    endforeach()
    set(FIVEINAROW_FOUND_IN "${CMAKE_FIND_ROOT_PATH}" CACHE INTERNAL "")
endif()
windows_library(allegro "The graphics library" allegro.sh allegro.h alleg ALLEGRO_STATICLINK
    dinput ddraw dxguid dsound winmm gdi32 ole32 user32 kernel32 comdlg32)
# The router's port mapping (src/net_port_mapping.cpp) by UPnP alone: miniupnpc.sh says why.
windows_library(port_mapping miniupnpc miniupnpc.sh miniupnpc/miniupnpc.h miniupnpc
    MINIUPNP_STATICLIB iphlpapi ws2_32)
set(FIVEINAROW_NATPMP_SOURCE src/net_port_natpmp_none.cpp)
add_link_options(-static)
# The programs players see (no console window: the game, and the bare graphics program of the
# start-up benchmark) go without their symbols.
add_link_options($<$<BOOL:$<TARGET_PROPERTY:WIN32_EXECUTABLE>>:-s>)

set(FIVEINAROW_PLATFORM_SOURCE src/platform_win32_net.cpp src/platform_win32_datagram.cpp
    src/platform_win32_window.cpp src/platform_win32_process.cpp)
set(FIVEINAROW_PLATFORM_LIBRARIES ws2_32 iphlpapi)
# The program's icon and version.
set(FIVEINAROW_PROGRAM_SOURCES src/fiveinarow.rc)

# The version, kept in one place: the top entry of the Debian changelog. The resource's numeric
# version is its numbers, padded to four.
file(STRINGS ${PROJECT_SOURCE_DIR}/debian/changelog changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^[^ ]+ \\(([0-9]+:)?([^)]+)\\)")
    message(FATAL_ERROR "No version in debian/changelog: ${changelog_top}")
endif()
set(FIVEINAROW_VERSION ${CMAKE_MATCH_2})
string(REGEX MATCHALL "[0-9]+" version_numbers "${FIVEINAROW_VERSION}")
list(APPEND version_numbers 0 0 0 0)
list(SUBLIST version_numbers 0 4 version_numbers)
list(JOIN version_numbers "," FIVEINAROW_VERSION_NUMBERS)
list(JOIN version_numbers "." version_dotted)
configure_file(${PROJECT_SOURCE_DIR}/src/windows_version.h.in windows_version.h @ONLY)
# The same for the packaging scripts (scripts/windows/pack.sh).
file(WRITE ${CMAKE_BINARY_DIR}/windows_version.sh
    "version=${FIVEINAROW_VERSION}\nversion_numbers=${version_dotted}\n")

# The icon, drawn by the picture generator in the sizes Windows shows.
set(icon ${CMAKE_BINARY_DIR}/fiveinarow.ico)
add_custom_command(OUTPUT ${icon}
    COMMAND ${FIVEINAROW_HOST_MAKE_PICTURES} --ico ${icon}
    DEPENDS ${FIVEINAROW_HOST_MAKE_PICTURES}
    COMMENT "Drawing the Windows icon"
    VERBATIM)
set_source_files_properties(src/fiveinarow.rc PROPERTIES
    INCLUDE_DIRECTORIES ${CMAKE_BINARY_DIR}
    OBJECT_DEPENDS "${icon};${CMAKE_BINARY_DIR}/windows_version.h")

# Tests and benchmarks that cannot run here. The window tests drive an X display.
# quit_request_test: the signals it sends (SIGHUP, kill() from another thread) and the ends by a
# signal it expects are POSIX's; Windows asks a program to end by console events. Of the
# benchmarks, the bare graphics program alone, for the start-up figures beside Linux's
# (scripts/windows/bench.sh): the others use POSIX sockets and signals.
list(REMOVE_ITEM FIVEINAROW_TESTS window)
set(FIVEINAROW_TESTS_LEFT_OUT quit_request_test)
set(FIVEINAROW_BENCHMARKS_LEFT_OUT latency_bench turn_loop_bench connect_escape_bench)
# The unit and peer-link tests run under wine: CMAKE_CROSSCOMPILING_EMULATOR (scripts/windows/
# build.sh sets it) starts them there, for CTest and for the listing of their cases, which waits
# for CTest rather than running at build time.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
# The first listing may have to boot the cache's wine prefix (tests/window/wine.py).
set(FIVEINAROW_TEST_DISCOVERY_TIMEOUT 300)
