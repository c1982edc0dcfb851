# Unit tests: every tests/unit/*.cpp goes into one GoogleTest binary, discovered by ctest.
find_package(GTest REQUIRED)
include(GoogleTest)
file(GLOB ZAN_UNIT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp)
if(ZAN_UNIT_SOURCES)
  add_executable(zan-unit ${ZAN_UNIT_SOURCES})
  target_link_libraries(zan-unit PRIVATE zanrt GTest::gtest GTest::gtest_main)
  gtest_discover_tests(zan-unit DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT "ZAN_UNIT=1")
endif()

# Script tests: every tests/scripts/*.zan runs under zan, plainly and with the collector stressed.
file(GLOB ZAN_SCRIPT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/scripts/*.zan)
# Each test file runs after the shared harness (tests/scripts/README.md).
set(ZAN_HARNESS ${CMAKE_SOURCE_DIR}/tests/scripts/harness.zan)
list(REMOVE_ITEM ZAN_SCRIPT_TESTS ${ZAN_HARNESS})
foreach(script ${ZAN_SCRIPT_TESTS})
  get_filename_component(name ${script} NAME_WE)
  add_test(NAME script.${name} COMMAND zan --prelude ${ZAN_HARNESS} ${script}
           WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/scripts)
  add_test(NAME gc-stress.${name} COMMAND zan --prelude ${ZAN_HARNESS} ${script}
           WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/scripts)
  set_tests_properties(gc-stress.${name} PROPERTIES ENVIRONMENT "ZAN_GC_STRESS=7")
endforeach()

# Scripts that check exit statuses and printed text (tests/scripts/exits/).
file(GLOB ZAN_EXIT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/scripts/exits/*.zan)
foreach(script ${ZAN_EXIT_TESTS})
  get_filename_component(name ${script} NAME_WE)
  add_test(NAME exit.${name}
           COMMAND ${CMAKE_COMMAND} -DZAN=$<TARGET_FILE:zan> -DSCRIPT=${script}
                   -P ${CMAKE_SOURCE_DIR}/tests/scripts/expect_exit.cmake)
endforeach()

# The lexer's benchmark driver, run by bench/lexer_bench.sh.
# It takes the unit tests' stand-ins for pieces not built yet, while there are any.
file(GLOB ZAN_LEXBENCH_STUBS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*_stub.cpp)
add_executable(zan-lexbench bench/lexer_bench.cpp ${ZAN_LEXBENCH_STUBS})
target_link_libraries(zan-lexbench PRIVATE zanrt)
