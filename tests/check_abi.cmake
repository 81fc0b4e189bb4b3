# libvarnolt's ABI against the baseline kept in lib/varnolt.abi: its exported
# functions and the types they reach, the opaque handle left out.
# cmake -DABIDW=... -DABIDIFF=... -DLIBRARY=... -DHEADERS=... -DBASELINE=... -DOUT=... -P check_abi.cmake
execute_process(
  COMMAND ${ABIDW} --exported-interfaces-only --no-corpus-path --no-comp-dir-path --no-show-locs
          --type-id-style hash --headers-dir ${HEADERS} --drop-private-types --out-file ${OUT} ${LIBRARY}
  RESULT_VARIABLE written)
if(NOT written EQUAL 0)
  message(FATAL_ERROR "abidw failed on ${LIBRARY}")
endif()
execute_process(COMMAND ${ABIDIFF} ${BASELINE} ${OUT} RESULT_VARIABLE differs OUTPUT_VARIABLE report)
if(NOT differs EQUAL 0)
  message(FATAL_ERROR "${report}\nlibvarnolt's ABI is not the one in lib/varnolt.abi. libvarnolt.so.1 "
                      "only ever grows: new functions, new codes, fields appended to varnolt_answer. "
                      "After such an addition, copy ${OUT} over lib/varnolt.abi.")
endif()
