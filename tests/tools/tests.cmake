# Tests of the tools folder (tests/tools/*.cpp are the test helper programs, so the tools'
# own tests live in subfolders): the models without windows, and the dialogs on a virtual X
# server with screenshots.
file(GLOB tools_model_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/models/*.cpp)
add_executable(test_tools_models ${tools_model_srcs})
target_link_libraries(test_tools_models PRIVATE brulin_test_support brulin_tools GTest::gtest_main)
file(MAKE_DIRECTORY ${BRULIN_TEST_WORK_DIR}/test_tools_models)
gtest_discover_tests(test_tools_models
  WORKING_DIRECTORY ${BRULIN_TEST_WORK_DIR}/test_tools_models
  DISCOVERY_MODE PRE_TEST
  PROPERTIES TIMEOUT 600)

# The dialogs on a virtual X server, with the control kit's window-test harness.
file(GLOB tools_window_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/windows/*.cpp)
add_executable(test_tools_windows ${tools_window_srcs}
  ${CMAKE_CURRENT_LIST_DIR}/../ui/controls/windows/Harness.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../ui/controls/windows/Main.cpp)
find_package(X11 REQUIRED)
target_link_libraries(test_tools_windows PRIVATE brulin_test_support brulin_tools GTest::gtest X11::X11)
target_compile_definitions(test_tools_windows PRIVATE
  BRULIN_SCREENSHOT_DIR="${CMAKE_BINARY_DIR}/screenshots/tools")
file(MAKE_DIRECTORY ${BRULIN_TEST_WORK_DIR}/test_tools_windows)
add_test(NAME tools_windows
  COMMAND xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" $<TARGET_FILE:test_tools_windows>
  WORKING_DIRECTORY ${BRULIN_TEST_WORK_DIR}/test_tools_windows)
set_tests_properties(tools_windows PROPERTIES TIMEOUT 300
  ENVIRONMENT "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/../ui/controls/windows/lsan.supp:print_suppressions=0;NO_AT_BRIDGE=1;GTK_A11Y=none")
