# The LZO compression library as the target `lzo2` (headers as <lzo/lzo1x.h>).
# Natively it is the system's liblzo2, found with pkg-config. For win32 it is
# built with the cross compiler from Debian's own lzo2 source package, fetched
# through apt into the build tree, and linked statically into what uses it.
# No copy of LZO lives in the repository.
include_guard(GLOBAL)

if(NOT WIN32)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LZO2 REQUIRED IMPORTED_TARGET GLOBAL lzo2)
  add_library(lzo2 INTERFACE)
  target_link_libraries(lzo2 INTERFACE PkgConfig::LZO2)
  return()
endif()

include(ExternalProject)
find_program(APT_GET apt-get REQUIRED)
find_program(DPKG_SOURCE dpkg-source REQUIRED)  # apt-get source unpacks with it

set(lzo_prefix ${CMAKE_BINARY_DIR}/lzo)
set(lzo_install ${lzo_prefix}/install)
set(lzo_library ${lzo_install}/lib/liblzo2.a)
string(REGEX REPLACE "-gcc(-[a-z]+)?$" "" lzo_host_prefix "${CMAKE_C_COMPILER}")
get_filename_component(lzo_host "${lzo_host_prefix}" NAME)
if(NOT lzo_host)
  set(lzo_host i686-w64-mingw32)
endif()

# `apt-get source` unpacks into lzo2-<upstream version> (Debian's patches
# applied); the directory name pins the upstream version, 2.10.
ExternalProject_Add(lzo2_build
  PREFIX ${lzo_prefix}
  DOWNLOAD_DIR ${lzo_prefix}/fetch
  SOURCE_DIR ${lzo_prefix}/source
  BINARY_DIR ${lzo_prefix}/build
  INSTALL_DIR ${lzo_install}
  DOWNLOAD_COMMAND sh -c "rm -rf lzo2-2.10 <SOURCE_DIR> && ${APT_GET} source -qq lzo2 && mv lzo2-2.10 <SOURCE_DIR>"
  UPDATE_COMMAND ""
  PATCH_COMMAND ""
  CONFIGURE_COMMAND <SOURCE_DIR>/configure --quiet --host=${lzo_host} --disable-shared
                    --prefix=<INSTALL_DIR> CC=${CMAKE_C_COMPILER} CFLAGS=-O2
                    CPPFLAGS=-DLZO_CFG_MODERN_C=1
  BUILD_COMMAND make -s -j2 src/liblzo2.la
  INSTALL_COMMAND make -s install-libLTLIBRARIES install-pkgincludeHEADERS
  BUILD_BYPRODUCTS ${lzo_library}
  LOG_DOWNLOAD ON
  LOG_CONFIGURE ON
  LOG_BUILD ON
  LOG_INSTALL ON
  LOG_OUTPUT_ON_FAILURE ON)

# The include directory must exist when the build is generated.
file(MAKE_DIRECTORY ${lzo_install}/include)
add_library(lzo2_static STATIC IMPORTED GLOBAL)
set_target_properties(lzo2_static PROPERTIES
  IMPORTED_LOCATION ${lzo_library}
  INTERFACE_INCLUDE_DIRECTORIES ${lzo_install}/include)
add_dependencies(lzo2_static lzo2_build)
add_library(lzo2 INTERFACE)
target_link_libraries(lzo2 INTERFACE lzo2_static)
