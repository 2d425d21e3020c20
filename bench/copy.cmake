# File copy of 512 MiB beside cp and dd on the same file.
add_executable(copy_bench ${CMAKE_CURRENT_LIST_DIR}/copy.cpp)
target_link_libraries(copy_bench PRIVATE ferrow platform benchmark::benchmark)
