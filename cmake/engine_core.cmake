set(QC_CORE_SOURCES
  src/convert_engine/notebook/model.cpp
  src/convert_engine/error/convert_error.cpp
)
