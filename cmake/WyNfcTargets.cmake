# Shared settings for the project's own targets.

add_library(wynfc_warnings INTERFACE)
target_compile_options(wynfc_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
    -Wimplicit-fallthrough
    $<$<BOOL:${WYNFC_WERROR}>:-Werror>)

# Log lines name source files by their path inside the repository.
add_compile_options("-fmacro-prefix-map=${PROJECT_SOURCE_DIR}/=")

# wynfc_add_tests(<name> DIR <dir> LIBS <libs...> [GUI] [LABELS <labels...>] [WRAPPER <script>]
#                 [TIMEOUT <seconds>])
# One test program per layer, made of every *.cpp in DIR. With GUI the tests open windows:
# every test case runs in a process of its own on a virtual X display of its own
# (scripts/with-virtual-display), labelled `gui`, and may leave screenshots. LABELS label
# the tests (ctest -L), besides `gui`. WRAPPER runs the program (its listing and each test
# case) through a script, such as scripts/with-private-pcscd; with GUI the virtual display
# runs inside it. TIMEOUT is each test case's limit (120 s unless given).
function(wynfc_add_tests name)
    cmake_parse_arguments(ARG "GUI" "DIR;WRAPPER;TIMEOUT" "LIBS;LABELS" ${ARGN})
    if(NOT WYNFC_BUILD_TESTS)
        return()
    endif()
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    file(GLOB sources CONFIGURE_DEPENDS "${ARG_DIR}/*.cpp")
    if(NOT sources)
        return()
    endif()
    add_executable(${name} ${sources})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} wynfc_warnings GTest::gmock GTest::gtest_main)
    # Under a sanitizer every exchange takes several times longer: tests that hold sound
    # answers to a countdown stretch their timing by this factor.
    if(CMAKE_CXX_FLAGS MATCHES "-fsanitize=[^ ]*(address|thread)")
        set(slowdown 4)
    else()
        set(slowdown 1)
    endif()
    target_compile_definitions(${name} PRIVATE
        WYNFC_SANITIZER_SLOWDOWN=${slowdown}
        WYNFC_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
        WYNFC_BINARY_DIR="${PROJECT_BINARY_DIR}"
        WYNFC_RESOURCES_DIR="${PROJECT_SOURCE_DIR}/WyNfcApp/resources")
    if(ARG_WRAPPER)
        set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "${ARG_WRAPPER}")
    endif()
    if(ARG_GUI)
        target_compile_definitions(${name} PRIVATE WYNFC_SCREENSHOT_DIR="${PROJECT_BINARY_DIR}/screenshots")
        set(emulator ${ARG_WRAPPER} "${PROJECT_SOURCE_DIR}/scripts/with-virtual-display")
        set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "${emulator}")
        gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                             PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS gui)
        if(ARG_LABELS)
            # The tests are known only when CTest lists them, and the discovery's own properties
            # cannot carry a list: all the labels are set on each test once it is listed.
            set(labels_file "${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake")
            list(JOIN ARG_LABELS ";" labels)
            file(WRITE "${labels_file}"
                 "foreach(test IN LISTS ${name}_TESTS)\n"
                 "    set_tests_properties(\"\${test}\" PROPERTIES LABELS \"gui;${labels}\")\n"
                 "endforeach()\n")
            set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${labels_file}")
        endif()
    elseif(ARG_LABELS)
        gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT ${ARG_TIMEOUT}
                             LABELS "${ARG_LABELS}")
    else()
        gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT ${ARG_TIMEOUT})
    endif()
endfunction()

# wynfc_add_layer(<name> DIR <dir> [DEPS <targets...>])
# A layer of the application: a static library of every *.cpp in DIR (an interface
# library while the layer has headers only). Headers are included as "<layer>/<file>.h"
# relative to the application folder.
function(wynfc_add_layer name)
    cmake_parse_arguments(ARG "" "DIR" "DEPS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS "${ARG_DIR}/*.cpp")
    if(sources)
        add_library(${name} STATIC ${sources})
        target_include_directories(${name} PUBLIC "${WYNFC_APP_DIR}")
        target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE wynfc_warnings)
    else()
        add_library(${name} INTERFACE)
        target_include_directories(${name} INTERFACE "${WYNFC_APP_DIR}")
        target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    endif()
endfunction()

