# zucam_add_test(<name> SOURCES ... [LIBS ...] [GUI] [OWN_MAIN] [TIMEOUT s] [RESOURCE_LOCK name])
# A GoogleTest executable whose cases CTest runs one process each. The shared
# main creates a QCoreApplication, or a QApplication with GUI; OWN_MAIN means
# the sources bring their own main. Cases that share a RESOURCE_LOCK (a fixed
# port, say) never run at the same time.
function(zucam_add_test name)
  cmake_parse_arguments(ARG "GUI;OWN_MAIN" "TIMEOUT;RESOURCE_LOCK" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  if(ARG_OWN_MAIN)
    set(test_main GTest::gtest)
  elseif(ARG_GUI)
    set(test_main zucam_test_main_gui)
  else()
    set(test_main zucam_test_main_core)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} ${test_main} zucam_test_support zucam_warnings)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()

  # Sanitizer options and the headless Qt platform come from the test
  # program itself (tests/support), so a case run by hand behaves as in CTest.
  if(ARG_GUI OR ARG_OWN_MAIN)
    target_link_libraries(${name} PRIVATE zucam_test_sanitizer_gui)
  else()
    target_link_libraries(${name} PRIVATE zucam_test_sanitizer)
  endif()

  set(properties TIMEOUT ${ARG_TIMEOUT})
  if(ARG_RESOURCE_LOCK)
    list(APPEND properties RESOURCE_LOCK ${ARG_RESOURCE_LOCK})
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${properties})
endfunction()

# zucam_test_locks(<target> <lock>...)
# Gives every case of a zucam_add_test target each of the resource locks (a
# program that holds both fixed hub ports, say): run after the cases are
# listed, from the target's own test list.
function(zucam_test_locks target)
  set(script "${CMAKE_CURRENT_BINARY_DIR}/${target}_locks.cmake")
  file(WRITE "${script}" "set_tests_properties(\${${target}_TESTS} PROPERTIES RESOURCE_LOCK \"${ARGN}\")\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
endfunction()
