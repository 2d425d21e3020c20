# Dravel: dmp_printf of short lines into a dump file beside fwrite of the same
# UTF-16 bytes; GetAddressInfo per address in a library of 2,000 exported
# functions (generated here) and in a PE image of as many (made in memory),
# beside the system's dladdr.
if(TARGET dravel)
  set(gen ${CMAKE_CURRENT_BINARY_DIR}/exports2000.cpp)
  set(text "// Generated for dravel_bench: 2,000 exported functions and a table of them.\n")
  set(table "")
  foreach(i RANGE 1999)
    string(APPEND text "extern \"C\" __attribute__((visibility(\"default\"), noinline)) int Exported${i}(int x) { return x * ${i} + ${i}; }\n")
    string(APPEND table "  reinterpret_cast<const void*>(&Exported${i}),\n")
  endforeach()
  string(APPEND text "extern \"C\" __attribute__((visibility(\"default\"))) const void* const* Exports2000() {\n"
                     "  static const void* const table[] = {\n${table}  };\n  return table;\n}\n")
  file(CONFIGURE OUTPUT ${gen} CONTENT "${text}")
  add_library(exports2000 SHARED ${gen})
  add_executable(dravel_bench ${CMAKE_CURRENT_LIST_DIR}/dravel.cpp)
  target_link_libraries(dravel_bench PRIVATE dravel brellu exports2000 platform benchmark::benchmark dl)
endif()
