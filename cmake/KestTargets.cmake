# Helpers shared by the layer folders.

# The layers and the folders each may include, from cmake/layers.txt (also read by
# scripts/check-layers.sh).
file(STRINGS ${PROJECT_SOURCE_DIR}/cmake/layers.txt kest_layer_lines)
foreach(line IN LISTS kest_layer_lines)
  if(line MATCHES "^([a-z]+):(.*)$")
    string(STRIP "${CMAKE_MATCH_2}" uses)
    separate_arguments(uses UNIX_COMMAND "${uses}")
    list(APPEND KEST_LAYERS ${CMAKE_MATCH_1})
    set(KEST_LAYER_USES_${CMAKE_MATCH_1} ${uses})
  endif()
endforeach()

# kest_layer_view(<layer> <out-var>)
# A folder in the build tree holding links to the layer's own folder and the folders (or
# single files) it may use, and nothing else: the layer's targets get it as their include directory, so a
# wrong-way include does not compile.
function(kest_layer_view layer out)
  set(view ${PROJECT_BINARY_DIR}/layer-views/${layer})
  if(NOT layer IN_LIST KEST_LAYERS)
    message(FATAL_ERROR "${layer}/ is not a layer of cmake/layers.txt")
  endif()
  foreach(entry ${layer} ${KEST_LAYER_USES_${layer}})
    if(NOT EXISTS ${view}/${entry})
      get_filename_component(parent ${view}/${entry} DIRECTORY)
      file(MAKE_DIRECTORY ${parent})
      file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${entry} ${view}/${entry} SYMBOLIC)
    endif()
  endforeach()
  set(${out} ${view} PARENT_SCOPE)
endfunction()

# kest_use_layer(<target> [<layer>])
# Gives a target the include view of its layer (by default the folder it is declared in).
function(kest_use_layer target)
  set(layer ${ARGN})
  if(NOT layer)
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    string(REGEX REPLACE "/.*" "" layer "${rel}")
  endif()
  kest_layer_view(${layer} view)
  target_include_directories(${target} PRIVATE ${view})
endfunction()

# kest_library(<name> SOURCES ... [DEPS ...] [PUBLIC_DEPS ...])
# An internal static library of position-independent objects, linked into the shared
# library, the MEX module, the tests and the benchmarks alike. Include strings are rooted at
# the repository root ("folder/File.h"), and the library sees only its layer's view of the
# tree. PUBLIC_DEPS: the libraries whose headers the target's own headers include; DEPS:
# those only its sources use. Tests, benchmarks and fuzz targets see the whole tree.
function(kest_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PUBLIC_DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  kest_use_layer(${name})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} PUBLIC ${ARG_PUBLIC_DEPS} Threads::Threads)
endfunction()
