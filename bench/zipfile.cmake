# Whole-file compression beside lzop on the same 256 MiB file, with peak memory.
add_executable(zipfile_bench ${CMAKE_CURRENT_LIST_DIR}/zipfile.cpp)
target_link_libraries(zipfile_bench PRIVATE ferrow platform benchmark::benchmark)
