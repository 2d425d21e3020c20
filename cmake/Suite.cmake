# Helpers shared by every library, test program and tool of the suite.

# suite_library(name SOURCES ... [LINKS ...] [DEF file.def])
# A shared library of the suite: name.dll on win32, libname.so natively.
# Sources define NAME_BUILD so that the public header exports instead of importing.
function(suite_library name)
  cmake_parse_arguments(A "" "DEF" "SOURCES;LINKS" ${ARGN})
  add_library(${name} SHARED ${A_SOURCES} ${A_DEF})
  string(TOUPPER ${name} upper)
  target_compile_definitions(${name} PRIVATE ${upper}_BUILD)
  target_include_directories(${name} PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
                                            $<INSTALL_INTERFACE:${QZ_INSTALL_INCLUDEDIR}>)
  # The public headers speak the platform's types and calls: users link it too.
  target_link_libraries(${name} PUBLIC platform PRIVATE ${A_LINKS})
  if(WIN32)
    set_target_properties(${name} PROPERTIES PREFIX "")
  else()
    # libNAME.so.1.2.3, with libNAME.so.1 for the loader; the installed
    # libraries find each other beside themselves.
    set_target_properties(${name} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
                                             INSTALL_RPATH "$ORIGIN")
  endif()
  suite_install(${name})
endfunction()

# suite_install(target...)
# Installs targets of the suite into the package: DLLs and programs in bin,
# shared libraries and import libraries in lib, all in the export set that
# qzConfig.cmake reads (as qz::NAME).
function(suite_install)
  install(TARGETS ${ARGN} EXPORT qzTargets
          RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
endfunction()

# suite_test(name SOURCES ... [LINKS ...])
# One GoogleTest program per library, registered with CTest as one test; under
# the win32 toolchain CTest runs it through Wine.
function(suite_test name)
  cmake_parse_arguments(A "" "" "SOURCES;LINKS" ${ARGN})
  add_executable(${name}_tests ${A_SOURCES})
  target_link_libraries(${name}_tests PRIVATE testsupport platform ${A_LINKS})
  add_test(NAME ${name} COMMAND ${name}_tests)
  set_tests_properties(${name} PROPERTIES TIMEOUT 1800 ENVIRONMENT "WINEDEBUG=-all")
endfunction()

# suite_fixtures(target GLOB)
# Committed files (those the glob finds) as bytes in a test program: the
# generated fixtures.inc holds {"name", {0x.., ...}}, one line per file.
function(suite_fixtures target pattern)
  file(GLOB files ${pattern})
  get_filename_component(dir ${pattern} DIRECTORY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${files} ${dir})
  set(fixtures "")
  foreach(f ${files})
    get_filename_component(name ${f} NAME_WE)
    file(READ ${f} hex HEX)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(APPEND fixtures "    {\"${name}\", {${bytes}}},\n")
  endforeach()
  file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/fixtures.inc CONTENT "${fixtures}")
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR})
endfunction()
