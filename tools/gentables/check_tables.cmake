# Runs every table generator into OUT and compares each file it writes with the committed one.
# cmake -DPYTHON=python3 -DSOURCE=<repository> -DOUT=<scratch folder> -P check_tables.cmake
set(ENV{PYTHONDONTWRITEBYTECODE} 1)  # no __pycache__ in the source tree
file(REMOVE_RECURSE ${OUT})
file(MAKE_DIRECTORY ${OUT})
set(generators gentables.py gen_window_tables.py gen_analysis_window.py)
foreach(generator ${generators})
  execute_process(COMMAND ${PYTHON} ${SOURCE}/tools/gentables/${generator} ${SOURCE}/tools/gentables/data ${OUT}
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${generator} failed: ${failed}")
  endif()
endforeach()

# Where each generated file is committed: the Layer I encoder's window beside the encoder, the
# rest among the decoder's tables.
file(GLOB generated RELATIVE ${OUT} ${OUT}/*)
set(stale "")
foreach(name ${generated})
  if(name STREQUAL "layer1_tables.cpp")
    set(committed tools/tompg/${name})
  else()
    set(committed decoder/tables/${name})
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT}/${name} ${SOURCE}/${committed}
                  RESULT_VARIABLE differs)
  if(differs)
    list(APPEND stale ${committed})
  endif()
endforeach()
list(LENGTH generated count)
if(count LESS 6)
  message(FATAL_ERROR "the generators wrote ${count} tables, expected 6: ${generated}")
endif()
if(stale)
  message(FATAL_ERROR "differ from what their generators make (edit the generator or its data in "
                      "tools/gentables, not the table, and run the generator): ${stale}")
endif()
message(STATUS "${count} tables match their generators")
