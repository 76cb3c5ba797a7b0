# The fuzz target for opening sound files, built with clang when it is there. The test runs
# the seed corpus and then fuzzes briefly; new inputs go to the build folder.
find_program(TOVA_CLANGXX clang++)
if(TOVA_CLANGXX)
    include(ExternalProject)
    set(fuzz_build ${CMAKE_CURRENT_BINARY_DIR}/fuzz)
    ExternalProject_Add(tova_fuzz
        SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}
        BINARY_DIR ${fuzz_build}
        CMAKE_ARGS -DCMAKE_CXX_COMPILER=${TOVA_CLANGXX} -DCMAKE_BUILD_TYPE=RelWithDebInfo
        BUILD_ALWAYS ON
        INSTALL_COMMAND "")
    file(MAKE_DIRECTORY ${fuzz_build}/found)
    add_test(NAME fuzz_open
        COMMAND ${fuzz_build}/fuzz_open -max_total_time=15 -timeout=10
                ${fuzz_build}/found ${CMAKE_CURRENT_LIST_DIR}/corpus)
    set_tests_properties(fuzz_open PROPERTIES ENVIRONMENT "TMPDIR=${fuzz_build}" TIMEOUT 120)
endif()
