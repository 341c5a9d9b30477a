# The Debian package: made with cpack, unpacked into a scratch root, the installed program
# started from there under a virtual X server (screenshot in <build>/screenshots/package).
add_test(NAME package_installs_and_starts
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/package_test.sh ${CMAKE_BINARY_DIR} ${BRULIN_TEST_WORK_DIR}/package
          $<TARGET_FILE:x_screenshot> ${CMAKE_BINARY_DIR}/screenshots/package $<IF:$<BOOL:${BRULIN_SANITIZE}>,ON,OFF>)
set_tests_properties(package_installs_and_starts PROPERTIES TIMEOUT 300
  ENVIRONMENT "NO_AT_BRIDGE=1;GTK_A11Y=none")
