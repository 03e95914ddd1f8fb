# Installs the build in BUILD_DIR into a scratch prefix, builds examples/embed against it (shared
# and static) and checks what the programs print; also that pkg-config resolves the prefix.
# Run with -DBUILD_DIR=... -DSOURCE_DIR=... -DCXX=...
set(scratch ${BUILD_DIR}/package-check)
file(REMOVE_RECURSE ${scratch})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${scratch}/prefix)
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/embed -B ${scratch}/embed -G Ninja -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${scratch}/prefix)
run(${CMAKE_COMMAND} --build ${scratch}/embed)

foreach(program kdx-embed kdx-embed-static)
  run(${scratch}/embed/${program})
  set(out "\n${out}")  # every line starts after a newline
  foreach(line "\n1 Login\n" "\n4 ProcessOrder\n" "\n22 GetQueryValue\n" "\nGetConnectStatus 0\nLogin -1\n")
    string(FIND "${out}" "${line}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "${program} did not print '${line}':\n${out}")
    endif()
  endforeach()
endforeach()

find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  file(GLOB pc_dirs ${scratch}/prefix/lib*/pkgconfig ${scratch}/prefix/lib/*/pkgconfig)
  list(JOIN pc_dirs ":" pc_path)
  set(ENV{PKG_CONFIG_PATH} "${pc_path}")
  run(${PKG_CONFIG} --cflags --libs kdxbridge)
  string(REGEX MATCH "-I([^ \n]*/include/kdxbridge)" ignored "${out}")
  set(include_dir "${CMAKE_MATCH_1}")
  string(REGEX MATCH "-L([^ \n]*)" ignored "${out}")
  if(NOT EXISTS "${include_dir}/control/KdxCtrl.h" OR NOT EXISTS "${CMAKE_MATCH_1}/libkdxbridge.so")
    message(FATAL_ERROR "pkg-config does not point into the installed tree: ${out}")
  endif()
endif()
