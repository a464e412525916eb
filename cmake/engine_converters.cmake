set(QC_CONVERTERS_SOURCES src/convert_engine/converters/strip.cpp)
