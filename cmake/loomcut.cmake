# lc_library(NAME SOURCES ... [DEPS ...]): one static library per folder.
function(lc_library name)
    cmake_parse_arguments(A "" "" "SOURCES;DEPS;PUBLIC_HEADERS" ${ARGN})
    add_library(${name} STATIC ${A_SOURCES})
    target_link_libraries(${name} PUBLIC lc_options ${A_DEPS})
    # Each public header must compile on its own.
    if(A_PUBLIC_HEADERS AND LC_TESTS)
        set(tus "")
        foreach(h ${A_PUBLIC_HEADERS})
            string(MAKE_C_IDENTIFIER "${name}_${h}" id)
            set(tu ${CMAKE_CURRENT_BINARY_DIR}/header_check/${id}.cpp)
            file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/${h})
            file(CONFIGURE OUTPUT ${tu} CONTENT "#include \"${rel}\"\n#include \"${rel}\"\n")
            list(APPEND tus ${tu})
        endforeach()
        add_library(${name}_header_check OBJECT ${tus})
        target_link_libraries(${name}_header_check PRIVATE ${name})
    endif()
endfunction()

# lc_test(NAME LABEL label SOURCES ... DEPS ... [ENV ...]): a GoogleTest executable whose cases
# are registered one by one with CTest under the folder's label.
function(lc_test name)
    cmake_parse_arguments(A "" "LABEL" "SOURCES;DEPS;ENV;EXTRA_LABELS" ${ARGN})
    add_executable(${name} ${A_SOURCES})
    target_link_libraries(${name} PRIVATE lc_options ${A_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
    target_compile_definitions(${name} PRIVATE
        LC_SOURCE_DIR="${CMAKE_SOURCE_DIR}" LC_BINARY_DIR="${CMAKE_BINARY_DIR}")
    set(env "QT_QPA_PLATFORM=offscreen" "LC_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
            "LC_BINARY_DIR=${CMAKE_BINARY_DIR}" ${A_ENV})
    gtest_discover_tests(${name}
        DISCOVERY_TIMEOUT 120
        DISCOVERY_MODE PRE_TEST
        TEST_LIST ${name}_TESTS)
    # Discovery splits list-valued PROPERTIES, so labels and environment are set by a CTest
    # include that runs after the discovered list is known.
    set(labels ${A_LABEL} ${A_EXTRA_LABELS})
    set(props ${CMAKE_CURRENT_BINARY_DIR}/${name}_properties.cmake)
    file(GENERATE OUTPUT ${props} CONTENT
"if(DEFINED ${name}_TESTS)
  set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${labels}\" ENVIRONMENT \"${env}\")
endif()
")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${props})
endfunction()
