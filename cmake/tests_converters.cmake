# GoogleTest suites of the writer and converters.
qc_gtest(converters_tests
  tests/cpp/writer_test.cpp
  tests/cpp/converters_fragments_test.cpp
  tests/cpp/converters_text_test.cpp
  tests/cpp/converters_strip_test.cpp
  tests/cpp/text_output_test.cpp
  tests/cpp/byte_blocks_test.cpp
)
target_link_libraries(converters_tests PRIVATE convert_engine_converters)

# Read, write and read again every sample notebook: needs the reader.
qc_gtest(round_trip_tests tests/cpp/round_trip_test.cpp)
target_link_libraries(round_trip_tests PRIVATE convert_engine_converters)
target_compile_definitions(round_trip_tests PRIVATE
  QC_SAMPLE_NOTEBOOKS="${PROJECT_SOURCE_DIR}/tests/data/notebooks")
