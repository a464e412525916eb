qc_gtest(core_tests
  tests/cpp/float_format_test.cpp
  tests/cpp/convert_error_test.cpp
  tests/cpp/json_object_test.cpp
  tests/cpp/open_stack_test.cpp
  tests/cpp/compact_string_test.cpp
)
target_link_libraries(core_tests PRIVATE convert_engine_error convert_engine_notebook)

include(${CMAKE_CURRENT_LIST_DIR}/tests_reader.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/tests_converters.cmake)
