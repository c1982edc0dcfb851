# What reaches standard output and what a run ends with when it cannot be
# written. Called with ZAN and DIR (tests/scripts/io) set (cmake -P).

# The result lines of expressions read from standard input keep their
# characters: UTF-8 out, one sequence per character.
execute_process(COMMAND ${ZAN} INPUT_FILE ${DIR}/non_ascii.txt
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
foreach(line "== \"ß\"" "== \"€ and ü\"")
  string(FIND "${out}" "${line}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "result line ${line} missing\nstdout: ${out}\nstderr: ${err}")
  endif()
endforeach()

# Output that cannot be written is reported, and the run fails.
if(EXISTS /dev/full)
  execute_process(COMMAND ${ZAN} ${DIR}/print_line.zan OUTPUT_FILE /dev/full
                  RESULT_VARIABLE result ERROR_VARIABLE err)
  if(result EQUAL 0)
    message(FATAL_ERROR "a run whose output was lost exited 0\nstderr: ${err}")
  endif()
  string(FIND "${err}" "*** Output error:" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "no report of the lost output\nstderr: ${err}")
  endif()
endif()
