# The engine-only benchmark. Configure a build of its own, in Release:
#   cmake -S . -B build/bench -G Ninja -DQC_BUILD_BENCH=ON -DCMAKE_BUILD_TYPE=Release
#   cmake --build build/bench --target engine_bench
# bench/bench.py does exactly that and runs it on its text-heavy notebook.

add_executable(engine_bench ${PROJECT_SOURCE_DIR}/bench/engine_bench.cpp)
target_link_libraries(engine_bench PRIVATE convert_engine qc_warnings)
