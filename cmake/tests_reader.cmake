# GoogleTest suites of the reader.
qc_gtest(reader_tests
  tests/cpp/reader_messages_test.cpp
  tests/cpp/reader_documents_test.cpp
  tests/cpp/reader_outputs_test.cpp
  tests/cpp/reader_limits_test.cpp
  tests/cpp/reader_records_test.cpp
  tests/cpp/reader_walks_test.cpp
)
target_link_libraries(reader_tests PRIVATE convert_engine_notebook)
