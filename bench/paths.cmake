# Path parsing and comparison beside std::filesystem::path on the same corpus.
add_executable(bench_paths paths.cpp)
target_link_libraries(bench_paths PRIVATE ferrow platform benchmark::benchmark)
