# The Windows build, cross-built with Debian's mingw-w64 (toolchain file cmake/mingw-w64.cmake;
# scripts/windows/build.sh drives it). Programs link everything statically (the graphics library,
# the C and C++ runtimes, the threads library), so that no DLL has to go beside them.
#
# The graphics library is the one scripts/windows/allegro.sh cross-builds, GoogleTest the one
# scripts/windows/gtest.sh does; both are found through CMAKE_FIND_ROOT_PATH.

set(FIVEINAROW_HOST_MAKE_PICTURES "" CACHE FILEPATH
    "The picture generator built for the build machine (it draws the program's icon)")
if(NOT FIVEINAROW_HOST_MAKE_PICTURES)
    message(FATAL_ERROR "FIVEINAROW_HOST_MAKE_PICTURES: give the native make_pictures")
endif()

# Found again when those folders change: a changed patch builds the library into a new one.
if(NOT "${CMAKE_FIND_ROOT_PATH}" STREQUAL "${FIVEINAROW_FOUND_IN}")
    unset(ALLEGRO_INCLUDE_DIR CACHE)
    unset(ALLEGRO_LIBRARY CACHE)
    unset(GTest_DIR CACHE)
    set(FIVEINAROW_FOUND_IN "${CMAKE_FIND_ROOT_PATH}" CACHE INTERNAL "")
endif()
find_path(ALLEGRO_INCLUDE_DIR allegro.h)
find_library(ALLEGRO_LIBRARY alleg)
if(NOT ALLEGRO_INCLUDE_DIR OR NOT ALLEGRO_LIBRARY)
    message(FATAL_ERROR "The graphics library for Windows is missing: scripts/windows/allegro.sh "
        "builds it; name its folder in CMAKE_FIND_ROOT_PATH")
endif()
add_library(allegro_static INTERFACE)
target_include_directories(allegro_static SYSTEM INTERFACE ${ALLEGRO_INCLUDE_DIR})
target_compile_definitions(allegro_static INTERFACE ALLEGRO_STATICLINK)
target_link_libraries(allegro_static INTERFACE ${ALLEGRO_LIBRARY}
    dinput ddraw dxguid dsound winmm gdi32 ole32 user32 kernel32 comdlg32)
add_link_options(-static)

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
    OBJECT_DEPENDS "${icon};${CMAKE_BINARY_DIR}/windows_version.h")

# The program players get: a GUI program (no console window) with the icon and version resource.
find_package(Threads REQUIRED)
add_library(fiveinarow_core STATIC ${FIVEINAROW_CORE_SOURCES} src/platform_win32.cpp)
target_include_directories(fiveinarow_core PUBLIC src)
# The library's WinMain wrapper belongs to the entry alone (winmain.cpp); elsewhere its
# declaration of WinMain clashes with the one Winsock's headers bring.
target_compile_definitions(fiveinarow_core PRIVATE ALLEGRO_NO_MAGIC_MAIN)
target_link_libraries(fiveinarow_core PUBLIC allegro_static Threads::Threads ws2_32)
add_executable(fiveinarow WIN32 src/winmain.cpp src/fiveinarow.rc)
target_link_libraries(fiveinarow PRIVATE fiveinarow_core)
target_include_directories(fiveinarow PRIVATE ${CMAKE_BINARY_DIR})
set_target_properties(fiveinarow PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
target_link_options(fiveinarow PRIVATE -s)

# The bare graphics program of the start-up benchmark, as on Linux.
add_executable(bare_allegro WIN32 bench/bare_allegro.cpp)
target_link_libraries(bare_allegro PRIVATE allegro_static)
set_target_properties(bare_allegro PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
target_link_options(bare_allegro PRIVATE -s)

# The unit and peer-link tests, the same list as on Linux (tests/CMakeLists.txt), run under wine:
# CMAKE_CROSSCOMPILING_EMULATOR (scripts/windows/build.sh sets it) starts them there, for CTest
# and for the listing of their cases, which waits for CTest rather than running at build time.
if(BUILD_TESTING)
    enable_testing()
    find_package(GTest CONFIG REQUIRED)
    set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
    # The first listing may have to boot the cache's wine prefix (tests/window/wine.py).
    set(FIVEINAROW_TEST_DISCOVERY_TIMEOUT 300)
    # quit_request_test: the signals it sends (SIGHUP, kill() from another thread) and the ends
    # by a signal it expects are POSIX's; Windows asks a program to end by console events.
    set(FIVEINAROW_TESTS_LEFT_OUT quit_request_test)
    add_subdirectory(tests)
endif()
