# GoogleTest suites of the writer and converters.
