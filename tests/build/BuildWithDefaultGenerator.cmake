# cmake -DSOURCE_DIR=... -DBINARY_DIR=... -DRESOURCE_TARGETS=... -P BuildWithDefaultGenerator.cmake
#
# Configures SOURCE_DIR in a fresh BINARY_DIR without naming a generator or a build type,
# checks that the build type is RelWithDebInfo, builds the resource targets alone (they
# must bring in the bundle they compile, whatever else happens to be built first), then
# the whole tree.
file(REMOVE_RECURSE "${BINARY_DIR}")
execute_process(
    COMMAND "${CMAKE_COMMAND}" -S "${SOURCE_DIR}" -B "${BINARY_DIR}"
            -DQUILM_BUILD_TESTS=OFF -DQUILM_BUILD_BENCH=OFF -DQUILM_BUILD_NIMBREL=OFF -DQUILM_BUILD_OSS=OFF
    COMMAND_ERROR_IS_FATAL ANY)
# Without a build type the tree is the same optimized one as the Ninja line builds.
file(STRINGS "${BINARY_DIR}/CMakeCache.txt" build_type REGEX "^CMAKE_BUILD_TYPE:")
if(NOT build_type STREQUAL "CMAKE_BUILD_TYPE:STRING=RelWithDebInfo")
    message(FATAL_ERROR "configured without a build type, the tree has ${build_type}")
endif()
execute_process(
    COMMAND "${CMAKE_COMMAND}" --build "${BINARY_DIR}" --target ${RESOURCE_TARGETS}
    COMMAND_ERROR_IS_FATAL ANY)
execute_process(
    COMMAND "${CMAKE_COMMAND}" --build "${BINARY_DIR}" --parallel 2
    COMMAND_ERROR_IS_FATAL ANY)
