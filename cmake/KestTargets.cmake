# Helpers shared by the subsystem folders.

# kest_library(<name> SOURCES ... [DEPS ...] [PUBLIC_DEPS ...])
# An internal static library of position-independent objects, linked into the
# shared library, the MEX module, the tests and the benchmarks alike.
function(kest_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PUBLIC_DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} PUBLIC ${ARG_PUBLIC_DEPS} Threads::Threads)
endfunction()
