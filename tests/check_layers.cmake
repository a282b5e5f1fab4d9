# The source folders are layers that only point down: app (the driver) may
# use obj and gltf (the writers, siblings that do not use each other), they
# may use bsp (the level model and reader) and bitmap (its sibling, the
# textures' reader), and all of them io (safe output) and base (messages,
# file names, portability). Fails on any include that
# points up or sideways.
#   cmake -DSOURCE_DIR=src -P check_layers.cmake
set(layers base io bsp obj app)
# Folders on the level of another.
set(sibling_gltf obj)
set(sibling_bitmap bsp)

function(level_of folder result)
  if(DEFINED sibling_${folder})
    set(folder ${sibling_${folder}})
  endif()
  list(FIND layers ${folder} level)
  set(${result} ${level} PARENT_SCOPE)
endfunction()

set(violations "")
foreach(layer IN LISTS layers ITEMS gltf bitmap)
  level_of(${layer} level)
  file(GLOB sources "${SOURCE_DIR}/${layer}/*")
  foreach(source IN LISTS sources)
    file(STRINGS ${source} includes REGEX "^#include \"[a-z]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#include \"([a-z]+)/.*" "\\1" used "${line}")
      level_of(${used} used_level)
      if(used_level GREATER level OR (used_level EQUAL level AND NOT used STREQUAL layer))
        list(APPEND violations "${source}: ${line}")
      endif()
    endforeach()
  endforeach()
endforeach()
if(violations)
  list(JOIN violations "\n" text)
  message(FATAL_ERROR "includes that point up or sideways:\n${text}")
endif()
