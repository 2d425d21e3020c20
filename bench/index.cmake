# CMFBasicIndex writing and reading 1,000,000 entries through qz's buffered
# file IO, beside a plain sequential write and read of the same bytes.
if(TARGET qzindex)
  add_executable(index_bench ${CMAKE_CURRENT_LIST_DIR}/index.cpp)
  target_link_libraries(index_bench PRIVATE qzindex omrick platform benchmark::benchmark)
endif()
