# lanqi_layer(<name> DIRS <folders> DEPS <targets>)
# One static library per layer, made of every .cpp in the given folders, so a new source file
# needs no edit here.
function(lanqi_layer name)
  cmake_parse_arguments(L "" "" "DIRS;DEPS" ${ARGN})
  set(srcs)
  foreach(d ${L_DIRS})
    file(GLOB s CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${d}/*.cpp)
    list(APPEND srcs ${s})
  endforeach()
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_compile_options(${name} PRIVATE ${LANQI_WARNINGS})
    target_link_libraries(${name} PUBLIC ${L_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${L_DEPS})
  endif()
endfunction()

# lanqi_label_targets(<target> <labels>...)
# Records that the tests of <target> carry these labels: tests_<label> then builds every target
# whose tests a `ctest -L <label>` run needs, and nothing else.
function(lanqi_label_targets target)
  foreach(label ${ARGN})
    set_property(GLOBAL APPEND PROPERTY LANQI_LABEL_TARGETS_${label} ${target})
    set_property(GLOBAL APPEND PROPERTY LANQI_LABELS ${label})
  endforeach()
endfunction()

# Called once at the end of the top-level list: the tests_<label> targets.
function(lanqi_add_label_targets)
  get_property(labels GLOBAL PROPERTY LANQI_LABELS)
  list(REMOVE_DUPLICATES labels)
  foreach(label ${labels})
    get_property(targets GLOBAL PROPERTY LANQI_LABEL_TARGETS_${label})
    add_custom_target(tests_${label})
    add_dependencies(tests_${label} ${targets})
  endforeach()
endfunction()

# lanqi_test(<name> DIR <folder> DEPS <targets> LABELS <labels>)
# One GoogleTest executable per test folder; every test case is registered with CTest.
function(lanqi_test name)
  cmake_parse_arguments(T "" "DIR" "DEPS;LABELS;PROPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${T_DIR}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(${name} ${srcs})
  target_compile_options(${name} PRIVATE ${LANQI_WARNINGS})
  target_link_libraries(${name} PRIVATE ${T_DEPS} lanqi_testsupport GTest::gtest GTest::gmock GTest::gtest_main)
  lanqi_label_targets(${name} ${T_LABELS})
  # Test discovery flattens its properties into words, so it can carry only one label; a script
  # CTest runs once the discovered tests are known gives them the whole list.
  list(GET T_LABELS 0 first)
  gtest_discover_tests(${name} PROPERTIES LABELS ${first} ${T_PROPS} DISCOVERY_TIMEOUT 60)
  list(LENGTH T_LABELS n)
  if(n GREATER 1)
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
    file(WRITE ${script} "foreach(t IN LISTS ${name}_TESTS)\n"
                         "  set_tests_properties(\"\${t}\" PROPERTIES LABELS \"${T_LABELS}\")\n"
                         "endforeach()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
  endif()
endfunction()
