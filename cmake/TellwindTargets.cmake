# Each subsystem folder builds into its own static library from the sources it
# holds, so a folder can grow without touching any other build file.
function(tellwind_add_library name)
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS
        ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h
        ${CMAKE_CURRENT_SOURCE_DIR}/*/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*/*.h)
    # A folder with a build file of its own is a target of its own.
    file(GLOB own_targets CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt)
    foreach(own ${own_targets})
        get_filename_component(own_dir ${own} DIRECTORY)
        list(FILTER sources EXCLUDE REGEX "^${own_dir}/")
    endforeach()
    if(sources)
        add_library(${name} STATIC ${sources})
        target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
        target_link_libraries(${name} PUBLIC ${ARG_LIBS})
        # The QML module names some of these types; its tools read them here.
        qt_extract_metatypes(${name})
    else()
        add_library(${name} INTERFACE)
        target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
        target_link_libraries(${name} INTERFACE ${ARG_LIBS})
    endif()
endfunction()

# A test executable registered with ctest. Every test runs inside the headless
# desktop that tests/harness.sh provides (X server, session bus, PulseAudio).
function(tellwind_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    add_test(NAME ${name} COMMAND ${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT}
        ENVIRONMENT "TELLWIND_BUILD_DIR=${CMAKE_BINARY_DIR};TELLWIND_SOURCE_DIR=${PROJECT_SOURCE_DIR};LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan-qt.supp")
    # "realchain" tests drive real programs and services (an X server, the
    # sound server, PocketSphinx, tellwind-server); "unit" tests run on fakes.
    if(NOT ARG_LABELS)
        if(name IN_LIST TELLWIND_REALCHAIN_TESTS)
            set(ARG_LABELS realchain)
        else()
            set(ARG_LABELS unit)
        endif()
    endif()
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
endfunction()

# A fuzz target for outside input. Built with clang it is a libFuzzer binary
# whose test runs for TELLWIND_FUZZ_SECONDS from SEEDS (scripts/fuzz.sh sets
# the time), with FUZZ_SOURCES compiled in for coverage feedback; otherwise the
# same entry point only replays SEEDS, linked against REPLAY_LIBS.
set(TELLWIND_FUZZ_SECONDS 20 CACHE STRING "How long each libFuzzer test runs")
function(tellwind_add_fuzz_test name)
    cmake_parse_arguments(ARG "" "SEEDS" "SOURCES;LIBS;FUZZ_SOURCES;FUZZ_LIBS;REPLAY_LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        target_sources(${name} PRIVATE ${ARG_FUZZ_SOURCES})
        target_link_libraries(${name} PRIVATE ${ARG_FUZZ_LIBS})
        target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
        target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
        set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}_corpus)
        file(MAKE_DIRECTORY ${corpus})
        add_test(NAME ${name} COMMAND ${name}
            -max_total_time=${TELLWIND_FUZZ_SECONDS} -max_len=4096 -timeout=10 ${corpus} ${ARG_SEEDS})
    else()
        target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/fuzz_replay_main.cpp)
        target_link_libraries(${name} PRIVATE ${ARG_REPLAY_LIBS})
        add_test(NAME ${name} COMMAND ${name} ${ARG_SEEDS})
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()
