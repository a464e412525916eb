set(QC_ERROR_SOURCES
  src/convert_engine/error/convert_error.cpp
)
