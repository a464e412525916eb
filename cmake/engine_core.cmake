set(QC_CORE_SOURCES
  src/convert_engine/notebook/json_error.cpp
  src/convert_engine/notebook/json_value.cpp
  src/convert_engine/notebook/float_format.cpp
  src/convert_engine/error/convert_error.cpp
)
