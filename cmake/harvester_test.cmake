# harvester_test(NAME TARGET [DISPLAY] [QUICK] [ALONE] [FILTER gtest-filter])
# One ctest entry: the GoogleTest executable TARGET, or the tests of it that FILTER selects.
# QUICK marks tests that need no display, no server and no waiting (label "quick", what
# scripts/test --quick runs); the others carry the label "full". In the cross build each
# entry runs under Wine in a prefix of its own, and with DISPLAY on a virtual display of its
# own (scripts/wine-test), so that entries share nothing and run side by side; ALONE marks an
# entry that must not (the caller says why).
function(harvester_test name target)
  cmake_parse_arguments(PARSE_ARGV 2 arg "DISPLAY;QUICK;ALONE" "FILTER" "")
  set(command $<TARGET_FILE:${target}> --gtest_brief=1)
  if(arg_FILTER)
    list(APPEND command "--gtest_filter=${arg_FILTER}")
  endif()
  if(CMAKE_CROSSCOMPILING)
    set(runner ${CMAKE_SOURCE_DIR}/scripts/wine-test)
    if(arg_DISPLAY)
      list(APPEND runner --display)
    endif()
    list(PREPEND command ${runner} ${name})
  endif()
  add_test(NAME ${name} COMMAND ${command})
  if(arg_QUICK)
    set(label quick)
  else()
    set(label full)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS ${label} TIMEOUT 600 RUN_SERIAL ${arg_ALONE})
endfunction()
