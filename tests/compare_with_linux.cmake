# Converts levels with the Windows program (under Wine) and with the Linux
# program, the bitmaps beside each level beside its outputs, and compares
# their OBJ, material and glTF files (textures and all) byte for byte,
# except for OBJ lines that hold NaN: "%f" writes it in each C library's own
# way.
#   cmake -DWINDOWS_PROGRAM=meshwright.exe -DEMULATOR="env|WINEDEBUG=-all|wine64"
#         -DLINUX_PROGRAM=meshwright -DWORK=folder -DLEVELS="a.bsp|b.bsp" -P compare_with_linux.cmake
if(NOT EXISTS "${LINUX_PROGRAM}")
  message(FATAL_ERROR "no Linux converter at ${LINUX_PROGRAM}: build the test preset first (cmake --workflow --preset test)")
endif()
string(REPLACE "|" ";" emulator "${EMULATOR}")
string(REPLACE "|" ";" levels "${LEVELS}")

function(convert program level folder)
  file(REMOVE_RECURSE "${folder}")
  file(MAKE_DIRECTORY "${folder}")
  # The bitmaps beside the level go beside the outputs, as textures.
  get_filename_component(level_folder "${level}" DIRECTORY)
  file(GLOB bitmaps "${level_folder}/*.bmp")
  if(bitmaps)
    file(COPY ${bitmaps} DESTINATION "${folder}")
  endif()
  foreach(output level.obj level.glb level.gltf)
    execute_process(COMMAND ${program} "${level}" ${output} WORKING_DIRECTORY "${folder}" RESULT_VARIABLE status
                    OUTPUT_QUIET)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "${program} failed on ${level} with ${status}")
    endif()
  endforeach()
endfunction()

# The file's lines without those that hold NaN, joined again.
function(comparable_text path out)
  file(READ "${path}" text)
  string(REGEX REPLACE "[^\n]*nan[^\n]*\n" "" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

foreach(level IN LISTS levels)
  get_filename_component(name "${level}" NAME_WE)
  convert("${emulator};${WINDOWS_PROGRAM}" "${level}" "${WORK}/${name}-windows")
  convert("${LINUX_PROGRAM}" "${level}" "${WORK}/${name}-linux")
  foreach(file level.obj level.mtl)
    comparable_text("${WORK}/${name}-windows/${file}" windows_text)
    comparable_text("${WORK}/${name}-linux/${file}" linux_text)
    if(NOT windows_text STREQUAL linux_text)
      message(FATAL_ERROR "${file} of ${level} differs between Windows and Linux")
    endif()
    file(SIZE "${WORK}/${name}-linux/${file}" size)
    message(STATUS "${name}: ${file} the same on both systems (${size} bytes on Linux)")
  endforeach()
  foreach(file level.glb level.gltf)
    file(SHA256 "${WORK}/${name}-windows/${file}" windows_hash)
    file(SHA256 "${WORK}/${name}-linux/${file}" linux_hash)
    if(NOT windows_hash STREQUAL linux_hash)
      message(FATAL_ERROR "${file} of ${level} differs between Windows and Linux")
    endif()
    message(STATUS "${name}: ${file} the same on both systems")
  endforeach()
endforeach()
