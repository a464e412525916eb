set(QC_NOTEBOOK_SOURCES
  src/convert_engine/notebook/model.cpp
  src/convert_engine/notebook/metadata_reader.cpp
  src/convert_engine/notebook/cell_reader.cpp
  src/convert_engine/notebook/output_reader.cpp
  src/convert_engine/notebook/notebook_reader.cpp
  src/convert_engine/notebook/json_writer.cpp
)
