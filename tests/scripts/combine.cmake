# Writes one runnable script test: the test file's header, then the harness
# without its header, then the rest of the test file. Failing cases name the
# test file. Called with HARNESS, TEST, NAME and OUT set (cmake -P).

# Splits a script's text at the end of its header (the word Zan and a block):
# sets <prefix>_HEADER and <prefix>_BODY.
function(split_header text prefix)
  string(REGEX MATCH "^[ \t\r\n]*[Zz][Aa][Nn][ \t\r\n]*\\[" opening "${text}")
  if(opening STREQUAL "")
    message(FATAL_ERROR "${NAME}: no script header")
  endif()
  string(LENGTH "${opening}" at)
  string(LENGTH "${text}" size)
  set(depth 1)
  set(quoted FALSE)
  while(depth GREATER 0 AND at LESS size)
    string(SUBSTRING "${text}" ${at} 1 c)
    if(quoted)
      if(c STREQUAL "\"")
        set(quoted FALSE)
      endif()
    elseif(c STREQUAL "\"")
      set(quoted TRUE)
    elseif(c STREQUAL "[")
      math(EXPR depth "${depth} + 1")
    elseif(c STREQUAL "]")
      math(EXPR depth "${depth} - 1")
    endif()
    math(EXPR at "${at} + 1")
  endwhile()
  if(depth GREATER 0)
    message(FATAL_ERROR "${NAME}: unclosed script header")
  endif()
  string(SUBSTRING "${text}" 0 ${at} header)
  string(SUBSTRING "${text}" ${at} -1 body)
  set(${prefix}_HEADER "${header}" PARENT_SCOPE)
  set(${prefix}_BODY "${body}" PARENT_SCOPE)
endfunction()

file(READ ${HARNESS} harness_text)
file(READ ${TEST} test_text)
split_header("${harness_text}" harness)
split_header("${test_text}" test)
# Without a final done, failed cases would print and the run still exit 0.
if(NOT test_BODY MATCHES "(^|\n)[ \t]*done[ \t\r]*(\n|;|$)")
  message(FATAL_ERROR "${NAME}: no done line: failing cases would not fail the run")
endif()

get_filename_component(test_dir ${TEST} DIRECTORY)
set(glue "
; The test runs in its own folder, where ctest starts it, not in the build
; folder that holds this combined script (running a script moves there).
change-dir to-zan-file \"${test_dir}/\"
; Failing cases name the test file they come from.
harness-fail: :fail
fail: func [title code expected actual] [
    prin \"${NAME}: \"
    harness-fail title code :expected :actual
]
")

# Syntax errors give line numbers of the combined script: the marker line
# says how they map onto the test file's own.
set(before "${test_HEADER}\n${harness_BODY}\n${glue}\n")
string(REGEX MATCHALL "\n" breaks "${before}")
list(LENGTH breaks here)
string(REGEX MATCHALL "\n" breaks "${test_HEADER}")
list(LENGTH breaks there)
math(EXPR here "${here} + 2")
math(EXPR there "${there} + 1")
file(WRITE ${OUT}.new "${before}; ${NAME}: its line ${there} is line ${here} here\n${test_BODY}")
# Rewritten only when it changed, so tests do not rebuild needlessly.
file(COPY_FILE ${OUT}.new ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.new)
