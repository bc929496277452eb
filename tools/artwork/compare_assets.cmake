# Runs the generator into a scratch folder and compares each file byte for byte with the committed
# one. Run as: cmake -DGENERATOR=... -DASSETS=... -DWORK=... -P compare_assets.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
execute_process(COMMAND "${GENERATOR}" --out-dir "${WORK}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the generator failed: ${result}")
endif()
foreach(name background.bmp disk.bmp quietglass.ico creature.ico)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${WORK}/${name}" "${ASSETS}/${name}"
                  RESULT_VARIABLE differs)
  if(NOT differs EQUAL 0)
    message(FATAL_ERROR "assets/${name} differs from the generator's output; regenerate it")
  endif()
endforeach()
