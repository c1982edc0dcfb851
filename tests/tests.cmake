# Unit tests: every tests/unit/*.cpp goes into one GoogleTest binary, discovered by ctest.
find_package(GTest REQUIRED)
include(GoogleTest)
file(GLOB ZAN_UNIT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp)
if(ZAN_UNIT_SOURCES)
  add_executable(zan-unit ${ZAN_UNIT_SOURCES})
  target_link_libraries(zan-unit PRIVATE zanbootgen zanrt GTest::gtest GTest::gtest_main)
  # The boot scripts in their order, for the test that boots from them.
  string(REPLACE ";" "|" ZAN_BOOT_SCRIPT_LIST "${ZAN_BOOT_SCRIPTS}")
  target_compile_definitions(zan-unit PRIVATE ZAN_BOOT_SCRIPT_LIST="${ZAN_BOOT_SCRIPT_LIST}")
  gtest_discover_tests(zan-unit DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT "ZAN_UNIT=1")
endif()

# Script tests: every tests/scripts/*.zan runs under zan, plainly and with the collector stressed.
# Each runs as one script made at build time in the build directory: its header, the shared
# harness, then its own code (tests/scripts/README.md).
file(GLOB ZAN_SCRIPT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/scripts/*.zan
     ${CMAKE_SOURCE_DIR}/tests/scripts/console/*.zan)
set(ZAN_HARNESS ${CMAKE_SOURCE_DIR}/tests/scripts/harness.zan)
set(ZAN_COMBINE ${CMAKE_SOURCE_DIR}/tests/scripts/combine.cmake)
list(REMOVE_ITEM ZAN_SCRIPT_TESTS ${ZAN_HARNESS})
set(ZAN_COMBINED_SCRIPTS)
foreach(script ${ZAN_SCRIPT_TESTS})
  get_filename_component(name ${script} NAME_WE)
  file(RELATIVE_PATH shown ${CMAKE_SOURCE_DIR} ${script})
  set(combined ${CMAKE_BINARY_DIR}/script-tests/${name}.zan)
  add_custom_command(
    OUTPUT ${combined}
    COMMAND ${CMAKE_COMMAND} -DHARNESS=${ZAN_HARNESS} -DTEST=${script} -DNAME=${shown}
            -DOUT=${combined} -P ${ZAN_COMBINE}
    DEPENDS ${ZAN_HARNESS} ${script} ${ZAN_COMBINE})
  list(APPEND ZAN_COMBINED_SCRIPTS ${combined})
  add_test(NAME script.${name} COMMAND zan ${combined}
           WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/scripts)
  add_test(NAME gc-stress.${name} COMMAND zan ${combined}
           WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/scripts)
  set_tests_properties(gc-stress.${name} PROPERTIES ENVIRONMENT "ZAN_GC_STRESS=7")
endforeach()
add_custom_target(zan-script-tests ALL DEPENDS ${ZAN_COMBINED_SCRIPTS})
# The date tests again in a zone a quarter hour off the hour and in one half an
# hour west of it.
foreach(zone Asia/Kathmandu Pacific/Marquesas)
  string(REPLACE "/" "-" zone_name ${zone})
  add_test(NAME script.date-${zone_name} COMMAND zan ${CMAKE_BINARY_DIR}/script-tests/date.zan
           WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/scripts)
  set_tests_properties(script.date-${zone_name} PROPERTIES ENVIRONMENT "TZ=${zone}")
endforeach()
# Work that once grew with the square of its input must finish well within this.
# The debug build checks the whole heap after every collection, which under the
# stress mode costs far more than the work itself: it gets a looser limit. The
# release limit leaves room for a machine busy with other builds and tests (the
# stressed run takes about 3 s of CPU time, and over 60 s of wall time on a machine
# running several test suites at once; a quadratic case takes many minutes).
if(CMAKE_BUILD_TYPE STREQUAL "Debug")
  set_tests_properties(script.linear_time gc-stress.linear_time PROPERTIES TIMEOUT 400)
else()
  set_tests_properties(script.linear_time gc-stress.linear_time PROPERTIES TIMEOUT 180)
endif()
add_test(NAME script-combine
         COMMAND ${CMAKE_COMMAND} -DZAN=$<TARGET_FILE:zan> -DHARNESS=${ZAN_HARNESS}
                 -DCOMBINE=${ZAN_COMBINE} -DDIR=${CMAKE_BINARY_DIR}/script-combine-check
                 -P ${CMAKE_SOURCE_DIR}/tests/scripts/combine_check.cmake)

# Scripts that check exit statuses and printed text (tests/scripts/exits/).
file(GLOB ZAN_EXIT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/scripts/exits/*.zan)
foreach(script ${ZAN_EXIT_TESTS})
  get_filename_component(name ${script} NAME_WE)
  add_test(NAME exit.${name}
           COMMAND ${CMAKE_COMMAND} -DZAN=$<TARGET_FILE:zan> -DSCRIPT=${script}
                   -P ${CMAKE_SOURCE_DIR}/tests/scripts/expect_exit.cmake)
endforeach()

# Start-up with the collector stressed at several paces: the run values and the
# script's arguments are made while collections move and free series.
foreach(level 1 2 3 4 5 6 11 13)
  add_test(NAME gc-stress.start-${level}
           COMMAND ${CMAKE_COMMAND} -E env ZAN_GC_STRESS=${level}
                   ${CMAKE_COMMAND} -DZAN=$<TARGET_FILE:zan>
                   -DSCRIPT=${CMAKE_SOURCE_DIR}/tests/scripts/exits/command_line_args.zan
                   -P ${CMAKE_SOURCE_DIR}/tests/scripts/expect_exit.cmake)
endforeach()

# The lexer's benchmark driver, run by bench/lexer_bench.sh.
# It takes the unit tests' stand-ins for pieces not built yet, while there are any.
file(GLOB ZAN_LEXBENCH_STUBS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*_stub.cpp)
add_executable(zan-lexbench bench/lexer_bench.cpp ${ZAN_LEXBENCH_STUBS})
target_link_libraries(zan-lexbench PRIVATE zanrt)

# Standard output: result lines of piped expressions, and a write that fails.
add_test(NAME output-checks
         COMMAND ${CMAKE_COMMAND} -DZAN=$<TARGET_FILE:zan> -DDIR=${CMAKE_SOURCE_DIR}/tests/scripts/io
                 -P ${CMAKE_SOURCE_DIR}/tests/scripts/output_checks.cmake)

# JSON and CSV against Python's json and csv on generated documents.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_FOUND)
  add_test(NAME json-csv-peer COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/json_csv_peer.py
           $<TARGET_FILE:zan>)
endif()

# The LZ decoder next to zlib's inflate, run by bench/codecs.sh.
add_executable(zan-lzbench bench/codecs_lz.cpp)
target_link_libraries(zan-lzbench PRIVATE zanrt)

# GUI tests (tests/gui/*.zan): combined with the harness like the script tests and run under a
# virtual X server, plainly and with the collector stressed.
find_program(ZAN_XVFB_RUN xvfb-run)
file(GLOB ZAN_GUI_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/gui/*.zan)
# Text measures the same everywhere: a 96 DPI screen, no scaling, and only the DejaVu
# faces (tests/gui/fonts.conf), so the default GUI font is DejaVu Sans 10.
set(ZAN_XVFB_SERVER -s "-screen 0 1280x1024x24 -dpi 96")
set(ZAN_GUI_ENV "GDK_SCALE=1;GDK_DPI_SCALE=1;FONTCONFIG_FILE=${CMAKE_SOURCE_DIR}/tests/gui/fonts.conf")
# Text shown by widgets loads fontconfig's caches, kept until the process ends.
list(APPEND ZAN_GUI_ENV "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/gui/lsan.supp")
if(ZAN_XVFB_RUN)
  # An input method that reports the caret rectangle it was given; a test picks it
  # with GTK_IM_MODULE_FILE set to ZAN_IM_PROBE_MODULES.
  add_library(zan-im-probe MODULE ${CMAKE_SOURCE_DIR}/tests/gui/im_probe.cpp)
  target_link_libraries(zan-im-probe PRIVATE PkgConfig::GTK3)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/gui-tests/im-probe.cache
       CONTENT "\"$<TARGET_FILE:zan-im-probe>\"\n\"zan-probe\" \"Zan test probe\" \"\" \"\" \"\"\n")
  list(APPEND ZAN_GUI_ENV "ZAN_IM_PROBE_MODULES=${CMAKE_BINARY_DIR}/gui-tests/im-probe.cache")
  foreach(script ${ZAN_GUI_TESTS})
    get_filename_component(name ${script} NAME_WE)
    file(RELATIVE_PATH shown ${CMAKE_SOURCE_DIR} ${script})
    set(combined ${CMAKE_BINARY_DIR}/gui-tests/${name}.zan)
    add_custom_command(
      OUTPUT ${combined}
      COMMAND ${CMAKE_COMMAND} -DHARNESS=${ZAN_HARNESS} -DTEST=${script} -DNAME=${shown}
              -DOUT=${combined} -P ${ZAN_COMBINE}
      DEPENDS ${ZAN_HARNESS} ${script} ${ZAN_COMBINE})
    list(APPEND ZAN_COMBINED_GUI ${combined})
    add_test(NAME gui.${name} COMMAND ${ZAN_XVFB_RUN} -a ${ZAN_XVFB_SERVER} $<TARGET_FILE:zan> ${combined}
             WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/gui)
    add_test(NAME gui-gc-stress.${name} COMMAND ${ZAN_XVFB_RUN} -a ${ZAN_XVFB_SERVER} $<TARGET_FILE:zan> ${combined}
             WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/gui)
    # No accessibility bridge: there is no bus under xvfb, and the bridge keeps
    # what it allocated for it, which AddressSanitizer builds report as leaks.
    set_tests_properties(gui.${name} PROPERTIES ENVIRONMENT "NO_AT_BRIDGE=1;${ZAN_GUI_ENV}")
    set_tests_properties(gui-gc-stress.${name} PROPERTIES ENVIRONMENT "ZAN_GC_STRESS=7;NO_AT_BRIDGE=1;${ZAN_GUI_ENV}")
    # One at a time: starting two virtual servers at once can race for a display
    # number, and the tests share the X clipboard and their working directory.
    set_tests_properties(gui.${name} gui-gc-stress.${name} PROPERTIES RESOURCE_LOCK x-display)
  endforeach()
  add_custom_target(zan-gui-tests ALL DEPENDS ${ZAN_COMBINED_GUI} zan-im-probe)
else()
  message(STATUS "xvfb-run not found: the GUI tests are left out")
endif()

# The console as a program: piped runs and runs on a pseudo-terminal (keys,
# paste, resize, halt, the history file), compared with the exact output.
if(Python3_FOUND)
  add_test(NAME console-runs COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/console/run.py
           $<TARGET_FILE:zan>)
  # The console window as the X server sees it: place, typing, pixels, closing.
  if(ZAN_XVFB_RUN)
    foreach(mode plain gc-stress)
      add_test(NAME console-window-${mode} COMMAND ${ZAN_XVFB_RUN} -a ${ZAN_XVFB_SERVER} ${Python3_EXECUTABLE}
               ${CMAKE_SOURCE_DIR}/tests/console/window.py $<TARGET_FILE:zan>)
      set(env "NO_AT_BRIDGE=1;${ZAN_GUI_ENV}")
      if(mode STREQUAL gc-stress)
        set(env "ZAN_GC_STRESS=7;${env}")
      endif()
      set_tests_properties(console-window-${mode} PROPERTIES ENVIRONMENT "${env}" RESOURCE_LOCK x-display)
    endforeach()
  endif()
endif()
