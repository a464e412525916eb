# The extension module quorvelin_convert and the HTML page target.
find_package(Python 3.9 REQUIRED COMPONENTS Interpreter Development.Module)

# The page is rendered by minijinja through its Python binding and the CPython
# API, so it sits on the binding's side and builds with the Python headers,
# apart from the engine.
add_library(python_module_page STATIC src/python_module/page/html_page.cpp)
target_include_directories(python_module_page PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(python_module_page PUBLIC convert_engine Python::Module PRIVATE qc_warnings)
set_target_properties(python_module_page PROPERTIES
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)

Python_add_library(quorvelin_convert MODULE WITH_SOABI
  src/python_module/arguments.cpp
  src/python_module/boundary.cpp
  src/python_module/dispatch.cpp
  src/python_module/failure.cpp
  src/python_module/fault.cpp
  src/python_module/file_reading.cpp
  src/python_module/functions.cpp
  src/python_module/module_init.cpp
  src/python_module/py_text.cpp
  src/python_module/utf8.cpp
  src/python_module/utf8_str.cpp
)
target_include_directories(quorvelin_convert PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_compile_definitions(quorvelin_convert PRIVATE QC_VERSION="${PROJECT_VERSION}")
target_link_libraries(quorvelin_convert PRIVATE python_module_page convert_engine qc_warnings)
set_target_properties(quorvelin_convert PROPERTIES
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)

# Keep the engine's symbols (linked from static libraries) out of the export table.
target_link_options(quorvelin_convert PRIVATE "LINKER:--exclude-libs,ALL")

install(TARGETS quorvelin_convert LIBRARY DESTINATION .)
