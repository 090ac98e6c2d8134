include(GoogleTest)

# mundoscope_test(NAME SOURCES... LIBS libs... [GUI])
# A GoogleTest binary run by CTest. GUI tests get their own X server through
# tests/support/with-xvfb, so they pass on a machine without a display, and carry the label "gui".
function(mundoscope_test name)
  cmake_parse_arguments(T "GUI" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} mundoscope_test_support GTest::gtest GTest::gtest_main)
  if(T_GUI)
    add_test(NAME ${name}
             COMMAND ${PROJECT_SOURCE_DIR}/tests/support/with-xvfb $<TARGET_FILE:${name}>)
    set_tests_properties(${name} PROPERTIES LABELS gui)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "MUNDOSCOPE_BUILD_DIR=${CMAKE_BINARY_DIR};MUNDOSCOPE_BUNDLE_DIR=${MUNDOSCOPE_BUNDLE_DIR}")
endfunction()
