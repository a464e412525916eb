set(QC_CONVERTERS_SOURCES
  src/convert_engine/converters/white_space.cpp
  src/convert_engine/converters/html_fragments.cpp
  src/convert_engine/converters/markdown.cpp
  src/convert_engine/converters/python_script.cpp
  src/convert_engine/converters/strip.cpp
)
