# The window tests of the found-file views: one program on a virtual X server, sharing the
# control kit's harness, saving a screenshot of each view under <build>/screenshots/views.
file(GLOB ui_views_window_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/windows/*.cpp)
add_executable(test_ui_views_windows ${ui_views_window_srcs}
  ${CMAKE_CURRENT_LIST_DIR}/ViewsFixtures.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/ui/controls/windows/Harness.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/ui/controls/windows/Main.cpp)
find_package(X11 REQUIRED)
target_link_libraries(test_ui_views_windows PRIVATE brulin_test_support brulin_ui_views_wx GTest::gtest X11::X11)
target_compile_definitions(test_ui_views_windows PRIVATE
  BRULIN_SCREENSHOT_DIR="${CMAKE_BINARY_DIR}/screenshots/views")
# The skin images beside the test program, as beside BrulinUI.
add_custom_command(TARGET test_ui_views_windows POST_BUILD COMMAND brulin_make_skin $<TARGET_FILE_DIR:test_ui_views_windows>)
file(MAKE_DIRECTORY ${BRULIN_TEST_WORK_DIR}/test_ui_views_windows)
add_test(NAME ui_views_windows
  COMMAND xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" $<TARGET_FILE:test_ui_views_windows>
  WORKING_DIRECTORY ${BRULIN_TEST_WORK_DIR}/test_ui_views_windows)
set_tests_properties(ui_views_windows PROPERTIES TIMEOUT 300
  ENVIRONMENT "LSAN_OPTIONS=suppressions='${CMAKE_CURRENT_SOURCE_DIR}/ui/controls/windows/lsan.supp':print_suppressions=0;NO_AT_BRIDGE=1;GTK_A11Y=none")

# The preview window's frame again with the larger font (pictures under
# <build>/screenshots/views-large-font).
add_test(NAME ui_views_windows_large_font
  COMMAND xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" $<TARGET_FILE:test_ui_views_windows>
          --gtest_filter=PreviewFrame.*:PreviewWindow.*:PreviewLoadingWindow.*:FileListWindow.*:FileTreeWindow.LongFolderNamesScrollAndThePaneWidens
  WORKING_DIRECTORY ${BRULIN_TEST_WORK_DIR}/test_ui_views_windows)
set_tests_properties(ui_views_windows_large_font PROPERTIES TIMEOUT 300
  ENVIRONMENT "XDG_CONFIG_HOME=${BRULIN_LARGE_FONT_CONFIG};BRULIN_SCREENSHOT_DIR=${CMAKE_BINARY_DIR}/screenshots/views-large-font;LSAN_OPTIONS=suppressions='${CMAKE_CURRENT_SOURCE_DIR}/ui/controls/windows/lsan.supp':print_suppressions=0;NO_AT_BRIDGE=1;GTK_A11Y=none")
