# The codecs' Decompress to 32-bit RGB and Compress from 32-bit RGB at 720 x 576
# (and 1920 x 1080 where a codec's queries allow it), beside libyuv's
# UYVYToARGB and ARGBToUYVY on frames of the same size.
find_library(QZ_LIBYUV yuv REQUIRED)
if(TARGET tarnel AND QZ_LIBYUV)
  add_executable(codecs_bench ${CMAKE_CURRENT_LIST_DIR}/codecs.cpp)
  target_link_libraries(codecs_bench PRIVATE tarnel zelku platform ${QZ_LIBYUV} benchmark::benchmark)
endif()
