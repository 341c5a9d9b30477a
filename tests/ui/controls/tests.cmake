# The window tests: one program that creates every control and dialog on a virtual X server,
# drives it with simulated input and saves a screenshot of each under <build>/screenshots.
file(GLOB ui_window_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/windows/*.cpp)
add_executable(test_ui_controls_windows ${ui_window_srcs})
find_package(X11 REQUIRED)
target_link_libraries(test_ui_controls_windows PRIVATE brulin_test_support brulin_ui_controls GTest::gtest X11::X11)
target_compile_definitions(test_ui_controls_windows PRIVATE
  BRULIN_SCREENSHOT_DIR="${CMAKE_BINARY_DIR}/screenshots/controls")
file(MAKE_DIRECTORY ${BRULIN_TEST_WORK_DIR}/test_ui_controls_windows)
add_test(NAME ui_controls_windows
  COMMAND xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" $<TARGET_FILE:test_ui_controls_windows>
  WORKING_DIRECTORY ${BRULIN_TEST_WORK_DIR}/test_ui_controls_windows)
set_tests_properties(ui_controls_windows PROPERTIES TIMEOUT 300
  ENVIRONMENT "LSAN_OPTIONS=suppressions='${CMAKE_CURRENT_LIST_DIR}/windows/lsan.supp':print_suppressions=0;NO_AT_BRIDGE=1;GTK_A11Y=none")

# The message boxes, captioned buttons and the result panel again with a 25% larger toolkit
# font (pictures under <build>/screenshots/controls-large-font).
add_test(NAME ui_controls_windows_large_font
  COMMAND xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" $<TARGET_FILE:test_ui_controls_windows>
          --gtest_filter=MessageBox.*:CaptionButtons.*:FileSavePanel.*
  WORKING_DIRECTORY ${BRULIN_TEST_WORK_DIR}/test_ui_controls_windows)
set_tests_properties(ui_controls_windows_large_font PROPERTIES TIMEOUT 300
  ENVIRONMENT "XDG_CONFIG_HOME=${BRULIN_LARGE_FONT_CONFIG};BRULIN_SCREENSHOT_DIR=${CMAKE_BINARY_DIR}/screenshots/controls-large-font;LSAN_OPTIONS=suppressions='${CMAKE_CURRENT_LIST_DIR}/windows/lsan.supp':print_suppressions=0;NO_AT_BRIDGE=1;GTK_A11Y=none")
