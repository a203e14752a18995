# Qt Test suites of the start-up, the about box and the link label. They run offscreen and write
# their screenshots into screenshots/ of the build folder.
find_package(Qt6 REQUIRED COMPONENTS Widgets Test)

set(ORVALIS_SCREENSHOT_DIR ${CMAKE_BINARY_DIR}/screenshots)

function(orvalis_add_app_ui_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} Qt6::Test)
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT
    "QT_QPA_PLATFORM=offscreen;ORVALIS_SCREENSHOT_DIR=${ORVALIS_SCREENSHOT_DIR};ASAN_OPTIONS=detect_leaks=1;UBSAN_OPTIONS=print_stacktrace=1")
endfunction()

orvalis_add_app_ui_test(test_link_label
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/link_label_test.cpp LIBS orvalis_link_label)
orvalis_add_app_ui_test(test_about_box
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/about_box_test.cpp LIBS orvalis_app)

# A stand-in main window program that starts through CConverterApp, for the start-up tests.
add_executable(app_start_probe ${CMAKE_CURRENT_LIST_DIR}/app_start_probe.cpp)
target_link_libraries(app_start_probe PRIVATE orvalis_app)
orvalis_add_app_ui_test(test_app_start
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/app_start_test.cpp LIBS orvalis_app)
add_dependencies(test_app_start app_start_probe)
