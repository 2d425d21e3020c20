# FU_ScanDir over a generated tree beside std::filesystem::recursive_directory_iterator.
add_executable(bench_scandir scandir.cpp)
target_link_libraries(bench_scandir PRIVATE ferrow platform benchmark::benchmark)
