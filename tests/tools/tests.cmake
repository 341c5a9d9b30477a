# Tests of the tools' logic (tests/tools/*.cpp are helper programs, so they live in unit/).
file(GLOB tools_unit_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/unit/*.cpp)
add_executable(test_tools ${tools_unit_srcs})
target_link_libraries(test_tools PRIVATE brulin_test_support GTest::gtest_main)
file(MAKE_DIRECTORY ${BRULIN_TEST_WORK_DIR}/test_tools)
gtest_discover_tests(test_tools WORKING_DIRECTORY ${BRULIN_TEST_WORK_DIR}/test_tools DISCOVERY_MODE PRE_TEST)

# The tools' dialogs on a virtual X server, with the control kit's window-test harness.
file(GLOB tools_dialog_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/dialogs/*.cpp)
add_executable(test_tools_dialogs ${tools_dialog_srcs}
  ${CMAKE_CURRENT_LIST_DIR}/../ui/controls/windows/Harness.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../ui/controls/windows/Main.cpp)
find_package(X11 REQUIRED)
target_link_libraries(test_tools_dialogs PRIVATE brulin_test_support brulin_tools_windows GTest::gtest X11::X11)
target_compile_definitions(test_tools_dialogs PRIVATE
  BRULIN_SCREENSHOT_DIR="${CMAKE_BINARY_DIR}/screenshots/tools")
file(MAKE_DIRECTORY ${BRULIN_TEST_WORK_DIR}/test_tools_dialogs)
add_test(NAME tools_dialogs
  COMMAND xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" $<TARGET_FILE:test_tools_dialogs>
  WORKING_DIRECTORY ${BRULIN_TEST_WORK_DIR}/test_tools_dialogs)
set_tests_properties(tools_dialogs PROPERTIES TIMEOUT 300
  ENVIRONMENT "LSAN_OPTIONS=suppressions='${CMAKE_CURRENT_LIST_DIR}/../ui/controls/windows/lsan.supp':print_suppressions=0;NO_AT_BRIDGE=1;GTK_A11Y=none")
