# CSetFile beside SQLite point reads and writes of the same settings.
find_package(SQLite3)
if(SQLite3_FOUND AND TARGET pellam)
  add_executable(settings_bench ${CMAKE_CURRENT_LIST_DIR}/settings.cpp)
  target_link_libraries(settings_bench PRIVATE pellam platform SQLite::SQLite3 benchmark::benchmark)
else()
  message(STATUS "settings_bench not built: it needs SQLite (libsqlite3-dev)")
endif()
