# Checks how a script test is combined with the harness: code after the header
# on the first line runs, a failing case names the test file and makes the run
# fail, the marker line maps line numbers, and a file without done is refused. Called with ZAN, HARNESS,
# COMBINE and DIR set (cmake -P).
file(MAKE_DIRECTORY ${DIR})
set(fixture ${DIR}/fixture.zan)
file(WRITE ${fixture} "Zan [title: \"a [bracketed] title\"] print \"line-one\"\n\ncases \"t\" [[1 + 1] 3]\ndone\n")
execute_process(COMMAND ${CMAKE_COMMAND} -DHARNESS=${HARNESS} -DTEST=${fixture}
                        -DNAME=tests/scripts/fixture.zan -DOUT=${DIR}/combined.zan -P ${COMBINE}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "combining failed")
endif()
execute_process(COMMAND ${ZAN} ${DIR}/combined.zan RESULT_VARIABLE result OUTPUT_VARIABLE out
                ERROR_VARIABLE err)
if(NOT result EQUAL 1)
  message(FATAL_ERROR "exit status ${result}, expected 1\nstdout: ${out}\nstderr: ${err}")
endif()
foreach(text "line-one" "tests/scripts/fixture.zan: FAIL t | [1 + 1] | expected 3 | got 2")
  string(FIND "${out}" "${text}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "standard output lacks \"${text}\"\nstdout: ${out}")
  endif()
endforeach()
# The marker's mapping: the test file's line 3 holds the cases.
file(READ ${DIR}/combined.zan text)
string(REGEX MATCH "\n; tests/scripts/fixture.zan: its line 1 is line ([0-9]+) here\n" marker "${text}")
if(marker STREQUAL "")
  message(FATAL_ERROR "no marker line")
endif()
math(EXPR expected "${CMAKE_MATCH_1} + 2")
string(FIND "${text}" "\ncases \"t\"" at)
string(SUBSTRING "${text}" 0 ${at} before)
string(REGEX MATCHALL "\n" breaks "${before}")
list(LENGTH breaks found)
math(EXPR found "${found} + 2")
if(NOT found EQUAL expected)
  message(FATAL_ERROR "the cases are on line ${found} of the combined script, the marker says ${expected}")
endif()
# A file that never calls done would exit 0 with failing cases: refused.
file(WRITE ${DIR}/no-done.zan "Zan []\ncases \"t\" [[1 + 1] 3]\n; done\n")
execute_process(COMMAND ${CMAKE_COMMAND} -DHARNESS=${HARNESS} -DTEST=${DIR}/no-done.zan
                        -DNAME=tests/scripts/no-done.zan -DOUT=${DIR}/no-done-combined.zan -P ${COMBINE}
                RESULT_VARIABLE result ERROR_VARIABLE err)
if(result EQUAL 0 OR NOT err MATCHES "no done line")
  message(FATAL_ERROR "a file without done was combined\n${err}")
endif()
