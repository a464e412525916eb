set(QC_READER_SOURCES src/convert_engine/notebook/notebook_reader.cpp)
