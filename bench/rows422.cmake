# The 4:2:2 row kernels (plain and fast) beside libyuv's UYVY rows, on frames of the same size.
add_executable(rows422_bench ${CMAKE_CURRENT_LIST_DIR}/rows422.cpp ${PROJECT_SOURCE_DIR}/codecs/rows422.cpp)
target_include_directories(rows422_bench PRIVATE ${PROJECT_SOURCE_DIR}/codecs)
target_link_libraries(rows422_bench PRIVATE zelku platform yuv benchmark::benchmark)
