# GoogleTest suites of the reader.
