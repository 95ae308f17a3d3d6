# check_install.cmake: installs the build into a scratch prefix, checks what was
# installed, then builds examples/hello.c and examples/engine.c against it
# twice, through find_package and through pkg-config, and runs them.
# Usage: cmake -DBUILD_DIR=... -DSOURCE=... -DWORK=... -DLIBDIR=... -DINCLUDEDIR=... -DBINDIR=... -DCC=...
#   -DGENERATOR=... -DOBJDUMP=... -DPKG_CONFIG=... -DVERSION=... [-DEXTRA_FLAGS=...]
#   -P check_install.cmake
# EXTRA_FLAGS (space-separated) go to every compile and link: a sanitized
# library needs sanitized programs.
file(REMOVE_RECURSE "${WORK}")
set(prefix "${WORK}/prefix")
separate_arguments(extra UNIX_COMMAND "${EXTRA_FLAGS}")

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

run("install" "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}")

string(REGEX MATCH "^[0-9]+" major "${VERSION}")
set(lib "${prefix}/${LIBDIR}")
foreach(f "${lib}/libmervalt.so.${VERSION}" "${lib}/libmervalt-engine.so.${VERSION}"
          "${prefix}/${INCLUDEDIR}/mervalt.h" "${prefix}/${INCLUDEDIR}/mervalt_engine.h"
          "${prefix}/${INCLUDEDIR}/mervalt_version.h" "${prefix}/${BINDIR}/mervalt"
          "${lib}/cmake/mervalt/mervaltConfig.cmake" "${lib}/pkgconfig/mervalt.pc"
          "${lib}/pkgconfig/mervalt-engine.pc")
  if(NOT EXISTS "${f}")
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
file(READ_SYMLINK "${lib}/libmervalt.so" dev_link)
file(READ_SYMLINK "${lib}/libmervalt.so.${major}" soname_link)
if(NOT dev_link STREQUAL "libmervalt.so.${major}" OR NOT soname_link STREQUAL "libmervalt.so.${VERSION}")
  message(FATAL_ERROR "library links: libmervalt.so -> ${dev_link}, libmervalt.so.${major} -> ${soname_link}")
endif()
foreach(name mervalt mervalt-engine)
  run("objdump" "${OBJDUMP}" -p "${lib}/lib${name}.so.${VERSION}")
  if(NOT out MATCHES "SONAME +lib${name}\\.so\\.${major}\n")
    message(FATAL_ERROR "no SONAME lib${name}.so.${major} in:\n${out}")
  endif()
endforeach()
run("mervalt --version" "${prefix}/${BINDIR}/mervalt" --version)
if(NOT out STREQUAL "mervalt ${VERSION}\n")
  message(FATAL_ERROR "mervalt --version printed [${out}]")
endif()

# Through find_package. CMake records the library's directory as the RPATH of
# the program it builds.
run("configure the consumer" "${CMAKE_COMMAND}" -S "${SOURCE}/tests/consumer" -B "${WORK}/by-cmake"
    -G "${GENERATOR}" "-DCMAKE_C_COMPILER=${CC}" "-DCMAKE_PREFIX_PATH=${prefix}"
    "-DCMAKE_C_FLAGS=${EXTRA_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${EXTRA_FLAGS}"
    "-DEXAMPLES=${SOURCE}/examples")
run("build the consumer" "${CMAKE_COMMAND}" --build "${WORK}/by-cmake")
run("hello (find_package)" "${WORK}/by-cmake/hello")
set(by_cmake "${out}")
run("engine (find_package)" "${WORK}/by-cmake/engine")
set(engine_by_cmake "${out}")

# Through pkg-config, with the library found at run time through LD_LIBRARY_PATH.
set(ENV{PKG_CONFIG_PATH} "${lib}/pkgconfig")
run("pkg-config" "${PKG_CONFIG}" --cflags --libs mervalt)
separate_arguments(pc_flags UNIX_COMMAND "${out}")
run("compile with pkg-config" "${CC}" -std=c99 ${extra} "${SOURCE}/examples/hello.c" ${pc_flags}
    -o "${WORK}/hello-pkg-config")
run("pkg-config" "${PKG_CONFIG}" --cflags --libs mervalt-engine)
separate_arguments(pc_engine_flags UNIX_COMMAND "${out}")
run("compile with pkg-config" "${CC}" -std=c99 ${extra} "${SOURCE}/examples/engine.c" ${pc_engine_flags} -pthread
    -o "${WORK}/engine-pkg-config")
set(ENV{LD_LIBRARY_PATH} "${lib}")
run("hello (pkg-config)" "${WORK}/hello-pkg-config")
set(by_pkg_config "${out}")
run("engine (pkg-config)" "${WORK}/engine-pkg-config")
set(engine_by_pkg_config "${out}")
file(READ "${SOURCE}/examples/engine.expected" engine_expected)
if(NOT engine_by_cmake STREQUAL engine_expected OR NOT engine_by_pkg_config STREQUAL engine_expected)
  message(FATAL_ERROR "engine example: find_package [${engine_by_cmake}], pkg-config [${engine_by_pkg_config}]")
endif()

if(NOT by_cmake STREQUAL "Hello Ada! You have 2 new messages.\n" OR NOT by_cmake STREQUAL by_pkg_config)
  message(FATAL_ERROR "outputs differ: find_package [${by_cmake}], pkg-config [${by_pkg_config}]")
endif()
message(STATUS "installed package builds through find_package and pkg-config")
