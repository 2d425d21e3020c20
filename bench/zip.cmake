# Memory compression beside raw LZO1X on the same buffers.
add_executable(zip_bench ${CMAKE_CURRENT_LIST_DIR}/zip.cpp)
target_link_libraries(zip_bench PRIVATE ferrow platform lzo2 benchmark::benchmark)
