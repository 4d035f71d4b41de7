# Settings and helpers shared by every room of the tree.

find_package(Threads REQUIRED)

set(EMBER_WINDOWS OFF)
set(EMBER_LINUX OFF)
if(WIN32)
    set(EMBER_WINDOWS ON)
    set(EMBER_PLATFORM_SUFFIX win32)
else()
    set(EMBER_LINUX ON)
    set(EMBER_PLATFORM_SUFFIX posix)
endif()

# GoogleTest: Debian's packaged library natively; built from Debian's sources for
# Windows (before our warning flags, which are for our own code).
if(NOT EMBER_FUZZ)
    if(EMBER_WINDOWS)
        set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
        set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
        add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    else()
        find_package(GTest REQUIRED)
    endif()
    include(GoogleTest)
endif()

# Our own code: warnings on, and strict IEEE single precision everywhere so that the
# same input gives the same output bits on every build (no contraction into FMA, no
# fast-math reassociation, SSE2 scalar arithmetic rather than x87).
add_compile_options(-Wall -Wextra -ffp-contract=off -fno-fast-math -msse2 -mfpmath=sse)

# ember_test(NAME SOURCES... [LIBS ...] [LABELS ...])
# A GoogleTest executable whose cases CTest discovers when the tests run (under
# Wine for the Windows build).
function(ember_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS;PROPERTIES" ${ARGN})
    add_executable(${name} ${T_SOURCES} ${T_UNPARSED_ARGUMENTS})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main Threads::Threads)
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 120
        PROPERTIES LABELS "${T_LABELS}" TIMEOUT 300 ${T_PROPERTIES})
endfunction()

# The editor page: the files a bundle carries beside its module (never the page's tests).
set(EMBER_PAGE_FILES index.html editor.css protocol.js news.js editor.js)

# ember_copy_page(TARGET FOLDER): copies the page into FOLDER whenever one of its files
# changes, and writes the factory presets for its menu beside it (presets.js, made by
# emberpress-presets from the preset table), before TARGET is built.
function(ember_copy_page target folder)
    set(sources ${EMBER_PAGE_FILES})
    list(TRANSFORM sources PREPEND ${PROJECT_SOURCE_DIR}/page/)
    set(outputs ${EMBER_PAGE_FILES})
    list(TRANSFORM outputs PREPEND ${folder}/)
    add_custom_command(OUTPUT ${outputs}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
        COMMAND ${CMAKE_COMMAND} -E copy ${sources} ${folder}
        DEPENDS ${sources}
        COMMENT "Copying the editor page for ${target}"
        VERBATIM)
    add_custom_command(OUTPUT ${folder}/presets.js
        COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
        COMMAND emberpress-presets page ${folder}
        DEPENDS emberpress-presets
        COMMENT "Writing the editor's presets for ${target}"
        VERBATIM)
    add_custom_target(${target}_page DEPENDS ${outputs} ${folder}/presets.js)
    add_dependencies(${target} ${target}_page)
endfunction()

# ember_copy_editor_helper(TARGET FOLDER): on Linux, copies the editor's helper program
# emberpress-editor into FOLDER whenever it is rebuilt, before TARGET is built.
function(ember_copy_editor_helper target folder)
    add_custom_command(OUTPUT ${folder}/emberpress-editor
        COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
        COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:emberpress_editor> ${folder}/
        DEPENDS emberpress_editor $<TARGET_FILE:emberpress_editor>
        COMMENT "Copying the editor's helper for ${target}"
        VERBATIM)
    add_custom_target(${target}_editor_helper DEPENDS ${folder}/emberpress-editor)
    add_dependencies(${target} ${target}_editor_helper)
endfunction()
