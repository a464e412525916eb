set(QC_JSON_SOURCES
  src/convert_engine/json/json_value.cpp
  src/convert_engine/json/json_error.cpp
  src/convert_engine/json/messages.cpp
  src/convert_engine/json/float_format.cpp
  src/convert_engine/json/unexpected.cpp
  src/convert_engine/json/json_reader.cpp
)
