# One fuzz test: replay every kept input of the target once, then fuzz for SECONDS starting from
# them. New inputs and crash files go to WORK in the build tree; the kept corpus is only read.
# Called as:
#   cmake -DFUZZER=<binary> -DCORPUS=<dir> -DWORK=<dir> -DSECONDS=<n> -P RunFuzzTarget.cmake
foreach(var FUZZER CORPUS WORK SECONDS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "RunFuzzTarget.cmake needs -D${var}=...")
  endif()
endforeach()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/corpus" "${WORK}/artifacts")
set(options -timeout=10 -rss_limit_mb=2048 "-artifact_prefix=${WORK}/artifacts/")

file(GLOB kept LIST_DIRECTORIES false "${CORPUS}/*")
list(LENGTH kept kept_count)
if(kept_count GREATER 0)
  # Files as arguments: libFuzzer runs each one once and stops at the first that fails.
  execute_process(COMMAND "${FUZZER}" ${options} ${kept} RESULT_VARIABLE replay)
  if(NOT replay EQUAL 0)
    message(FATAL_ERROR "A kept input in ${CORPUS} fails (${replay}); see the report above")
  endif()
  message(STATUS "Replayed ${kept_count} kept inputs of ${CORPUS}")
endif()

set(dirs "${WORK}/corpus")
if(IS_DIRECTORY "${CORPUS}")
  list(APPEND dirs "${CORPUS}")
endif()
execute_process(COMMAND "${FUZZER}" ${options} -max_total_time=${SECONDS} -print_final_stats=1
                        ${dirs} RESULT_VARIABLE fuzz)
if(NOT fuzz EQUAL 0)
  message(FATAL_ERROR "Fuzzing failed (${fuzz}); the input is in ${WORK}/artifacts")
endif()
