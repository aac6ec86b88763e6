# Installs the built library into a fresh prefix and builds a consumer
# against it, once through the CMake package and once through pkg-config.
file(REMOVE_RECURSE ${ORVANE_WORK_DIR})
set(prefix ${ORVANE_WORK_DIR}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(LAST_OUTPUT "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${ORVANE_BUILD_DIR} --prefix ${prefix})

set(flags "${ORVANE_CXX_FLAGS}")
if(ORVANE_SANITIZE)
  set(flags "${flags} -fsanitize=address,undefined")
endif()

# 1. find_package(OrvaneMail)
run(${CMAKE_COMMAND} -S ${ORVANE_CONSUMER_SRC} -B ${ORVANE_WORK_DIR}/cmake-build
    -G ${ORVANE_GENERATOR} -DCMAKE_PREFIX_PATH=${prefix} "-DCMAKE_CXX_FLAGS=${flags}")
run(${CMAKE_COMMAND} --build ${ORVANE_WORK_DIR}/cmake-build)
run(${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${prefix}/lib:${prefix}/lib/x86_64-linux-gnu
    ${ORVANE_WORK_DIR}/cmake-build/consumer)
if(NOT LAST_OUTPUT MATCHES "aGVsbG8=")
  message(FATAL_ERROR "consumer printed: ${LAST_OUTPUT}")
endif()

# 2. pkg-config orvane-mail
file(GLOB pcdir ${prefix}/lib*/pkgconfig ${prefix}/lib/*/pkgconfig)
run(${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${pcdir} pkg-config --cflags --libs orvane-mail)
string(STRIP "${LAST_OUTPUT}" pcflags)
separate_arguments(pcflags UNIX_COMMAND "${pcflags}")
separate_arguments(extra UNIX_COMMAND "${flags}")
run(c++ -std=c++17 -fPIC ${extra} ${ORVANE_CONSUMER_SRC}/main.cpp ${pcflags}
    -o ${ORVANE_WORK_DIR}/consumer-pc)
run(${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${prefix}/lib:${prefix}/lib/x86_64-linux-gnu
    ${ORVANE_WORK_DIR}/consumer-pc)
if(NOT LAST_OUTPUT MATCHES "aGVsbG8=")
  message(FATAL_ERROR "pkg-config consumer printed: ${LAST_OUTPUT}")
endif()
