# The source folders are layers that only point down: app (the driver) may
# use obj (the writers), obj may use bsp (the level model and reader), and
# all of them io (safe output) and base (messages, file names, portability).
# Fails on any include that points up.
#   cmake -DSOURCE_DIR=src -P check_layers.cmake
set(layers base io bsp obj app)
set(violations "")
foreach(layer IN LISTS layers)
  list(FIND layers ${layer} level)
  file(GLOB sources "${SOURCE_DIR}/${layer}/*")
  foreach(source IN LISTS sources)
    file(STRINGS ${source} includes REGEX "^#include \"[a-z]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#include \"([a-z]+)/.*" "\\1" used "${line}")
      list(FIND layers ${used} used_level)
      if(used_level GREATER level)
        list(APPEND violations "${source}: ${line}")
      endif()
    endforeach()
  endforeach()
endforeach()
if(violations)
  list(JOIN violations "\n" text)
  message(FATAL_ERROR "includes that point up a layer:\n${text}")
endif()
