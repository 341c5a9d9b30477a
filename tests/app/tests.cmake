# The main program's window tests (one program on a virtual X server, screenshots under
# <build>/screenshots/app) and the test of the program itself.
file(GLOB app_window_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/gui/*.cpp)
add_executable(test_app_windows ${app_window_srcs}
  ${CMAKE_CURRENT_SOURCE_DIR}/ui/controls/windows/Harness.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/ui/controls/windows/Main.cpp)
find_package(X11 REQUIRED)
target_link_libraries(test_app_windows PRIVATE brulin_test_support brulin_app_windows GTest::gtest X11::X11)
target_compile_definitions(test_app_windows PRIVATE BRULIN_SCREENSHOT_DIR="${CMAKE_BINARY_DIR}/screenshots/app")
# The skin images beside the test program, as beside BrulinUI.
add_custom_command(TARGET test_app_windows POST_BUILD COMMAND brulin_make_skin $<TARGET_FILE_DIR:test_app_windows>)
file(MAKE_DIRECTORY ${BRULIN_TEST_WORK_DIR}/test_app_windows)
add_test(NAME app_windows
  COMMAND xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" $<TARGET_FILE:test_app_windows>
  WORKING_DIRECTORY ${BRULIN_TEST_WORK_DIR}/test_app_windows)
set_tests_properties(app_windows PROPERTIES TIMEOUT 300
  ENVIRONMENT "LSAN_OPTIONS=suppressions='${CMAKE_CURRENT_SOURCE_DIR}/ui/controls/windows/lsan.supp':print_suppressions=0;NO_AT_BRIDGE=1;GTK_A11Y=none")

# The window frames, menus, dialogs, tool buttons and result page again with the larger font; pictures under
# <build>/screenshots/app-large-font.
add_test(NAME app_windows_large_font
  COMMAND xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" $<TARGET_FILE:test_app_windows>
          --gtest_filter=WindowFrames.*:MainFrame.StartsOnTheModePageAndKeepsItsMinimumSize:DeletedFileRecoveryWindows.RecoveryDialogsShowProgressAndCancel:DeletedFileRecoveryWindows.ToolbarsAndACancelledRecovery:DeepScanWindows.DevicePageCtrlOPartitionPageAndFilePage:DiskRightsWindows.*
  WORKING_DIRECTORY ${BRULIN_TEST_WORK_DIR}/test_app_windows)
set_tests_properties(app_windows_large_font PROPERTIES TIMEOUT 300
  ENVIRONMENT "XDG_CONFIG_HOME=${BRULIN_LARGE_FONT_CONFIG};BRULIN_SCREENSHOT_DIR=${CMAKE_BINARY_DIR}/screenshots/app-large-font;LSAN_OPTIONS=suppressions='${CMAKE_CURRENT_SOURCE_DIR}/ui/controls/windows/lsan.supp':print_suppressions=0;NO_AT_BRIDGE=1;GTK_A11Y=none")

add_test(NAME app_program
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/program_test.sh $<TARGET_FILE:BrulinUI> $<TARGET_FILE:x_screenshot>
          ${CMAKE_BINARY_DIR}/screenshots/app ${BRULIN_TEST_WORK_DIR}/app_program)
set_tests_properties(app_program PROPERTIES TIMEOUT 300
  ENVIRONMENT "LSAN_OPTIONS=suppressions='${CMAKE_CURRENT_SOURCE_DIR}/ui/controls/windows/lsan.supp':print_suppressions=0;NO_AT_BRIDGE=1;GTK_A11Y=none")

# Deep Scan Recovery in the program itself, driven with xdotool on a virtual X server: the damaged
# disk is made by a helper program, tests/tools/make_deep_scan_disk (the same fixture as the wizard tests), screenshots go to
# <build>/screenshots/program.
add_test(NAME app_program_deep_scan
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/deep_scan_program_test.sh $<TARGET_FILE:BrulinUI> $<TARGET_FILE:x_screenshot>
          $<TARGET_FILE:make_deep_scan_disk> ${CMAKE_BINARY_DIR}/screenshots/program ${BRULIN_TEST_WORK_DIR}/app_program_deep_scan)
set_tests_properties(app_program_deep_scan PROPERTIES TIMEOUT 300
  ENVIRONMENT "NO_AT_BRIDGE=1;GTK_A11Y=none")

# The desktop entry's start by a user who is not root, with a stand-in pkexec: asked to run the
# loader as root, and when it refuses, the program as the user with the device page's line
# about rights (screenshots under <build>/screenshots/desktop-start); under root also through a
# set-user-ID stand-in, the user's loader ended with root's loader running.
add_test(NAME app_desktop_start
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/desktop_start_test.sh ${CMAKE_BINARY_DIR} $<TARGET_FILE:x_screenshot>
          ${CMAKE_BINARY_DIR}/screenshots/desktop-start ${BRULIN_TEST_WORK_DIR}/app_desktop_start ${BRULIN_LARGE_FONT_CONFIG}
          $<TARGET_FILE:setuid_pkexec>)
set_tests_properties(app_desktop_start PROPERTIES TIMEOUT 300
  ENVIRONMENT "LSAN_OPTIONS=suppressions='${CMAKE_CURRENT_SOURCE_DIR}/ui/controls/windows/lsan.supp':print_suppressions=0;NO_AT_BRIDGE=1;GTK_A11Y=none")
