# The planar and meshed row kernels, fast and plain, over whole frames, beside
# libyuv's UYVY conversions on frames of the same size (native: libyuv is a
# Debian package of the build machine).
find_library(yuv_library yuv)
if(yuv_library AND NOT WIN32)
  add_executable(rows_bench ${CMAKE_CURRENT_LIST_DIR}/rows.cpp ${PROJECT_SOURCE_DIR}/codecs/clamps.cpp
                            ${PROJECT_SOURCE_DIR}/codecs/rows_planar.cpp ${PROJECT_SOURCE_DIR}/codecs/rows_meshed.cpp)
  target_include_directories(rows_bench PRIVATE ${PROJECT_SOURCE_DIR}/codecs)
  target_link_libraries(rows_bench PRIVATE zelku platform ${yuv_library} benchmark::benchmark)
endif()
