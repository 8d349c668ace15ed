# Helpers shared by the layer folders.

# kest_library(<name> SOURCES ... [DEPS ...] [PUBLIC_DEPS ...])
# An internal static library of position-independent objects, linked into the shared
# library, the MEX module, the tests and the benchmarks alike. Include strings are rooted at
# the repository root ("folder/File.h"); which folders a layer may include is checked by
# scripts/check-layers.sh. PUBLIC_DEPS: the libraries whose headers the target's own headers
# include; DEPS: those only its sources use.
function(kest_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PUBLIC_DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} PUBLIC ${ARG_PUBLIC_DEPS} Threads::Threads)
endfunction()
