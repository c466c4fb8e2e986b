# zucam_add_test(<name> SOURCES ... [LIBS ...] [GUI])
# A GoogleTest executable whose cases are registered with CTest one by one.
# The main creates a QCoreApplication, or a QApplication with GUI.
function(zucam_add_test name)
  cmake_parse_arguments(ARG "GUI" "TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  if(ARG_GUI)
    set(test_main zucam_test_main_gui)
  else()
    set(test_main zucam_test_main_core)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} ${test_main} zucam_test_support zucam_warnings)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES
      TIMEOUT ${ARG_TIMEOUT}
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_FONT_DPI=96;${ARG_ENV}")
endfunction()
