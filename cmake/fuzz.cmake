# The libFuzzer target over the engine.
#
# Configure a build of its own with clang, for example:
#   cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 \
#         -DQC_BUILD_FUZZ=ON -DQC_SANITIZE=ON
# scripts/run-fuzz.sh does exactly that and runs the target.

if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "QC_BUILD_FUZZ needs clang (libFuzzer); configure with -DCMAKE_CXX_COMPILER=clang++-14")
endif()

# The engine libraries get coverage feedback for the fuzzer; the target itself
# links the libFuzzer driver.
set(_qc_fuzz_engine convert_engine_json convert_engine_error convert_engine_notebook convert_engine_converters)
set(_qc_fuzz_sanitizers "")
if(NOT QC_SANITIZE)
  # Fuzzing without AddressSanitizer and UndefinedBehaviorSanitizer finds
  # little: turn them on for the fuzzed code when the build did not.
  set(_qc_fuzz_sanitizers -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
endif()

foreach(_lib IN LISTS _qc_fuzz_engine)
  target_compile_options(${_lib} PRIVATE -fsanitize=fuzzer-no-link ${_qc_fuzz_sanitizers})
endforeach()

add_executable(notebook_fuzzer ${PROJECT_SOURCE_DIR}/fuzz/notebook_fuzzer.cpp)
target_link_libraries(notebook_fuzzer PRIVATE convert_engine qc_warnings)
target_compile_options(notebook_fuzzer PRIVATE -fsanitize=fuzzer ${_qc_fuzz_sanitizers})
target_link_options(notebook_fuzzer PRIVATE -fsanitize=fuzzer ${_qc_fuzz_sanitizers})
