# The loader's tests run the loader in-process against a stub main program. Each test has a
# runtime folder of its own, and with it its own instance lock and shared log buffer, so they
# pass beside a running program of the same user.
file(GLOB loader_test_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/headless/*.cpp)
add_executable(test_loader ${loader_test_srcs})
target_link_libraries(test_loader PRIVATE brulin_test_support brulin_loader GTest::gtest_main)
add_dependencies(test_loader loader_stub Brulin)
file(MAKE_DIRECTORY ${BRULIN_TEST_WORK_DIR}/test_loader)
gtest_discover_tests(test_loader
  WORKING_DIRECTORY ${BRULIN_TEST_WORK_DIR}/test_loader
  DISCOVERY_MODE PRE_TEST
  PROPERTIES TIMEOUT 120)

# The main program's crash handler, seen from the loader's side: a probe program built without
# the sanitizers (they install signal handlers of their own) crashes in each way, and its test
# checks the FIFO bytes, the crash line, the dump and how the process ended.
file(GLOB crash_logging_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/logging/*.cpp)
add_executable(crash_probe ${CMAKE_CURRENT_LIST_DIR}/crash_probe/CrashProbe.cpp
  ${CMAKE_SOURCE_DIR}/app/CrashHandler.cpp
  ${CMAKE_SOURCE_DIR}/storage/alloc/OperatorNew.cpp
  ${crash_logging_srcs}
  ${CMAKE_SOURCE_DIR}/platform/SystemInfo.cpp ${CMAKE_SOURCE_DIR}/platform/DebugOutput.cpp
  ${CMAKE_SOURCE_DIR}/platform/File.cpp ${CMAKE_SOURCE_DIR}/platform/SharedMemory.cpp
  ${CMAKE_SOURCE_DIR}/platform/NamedMutex.cpp ${CMAKE_SOURCE_DIR}/platform/AppPaths.cpp
  ${CMAKE_SOURCE_DIR}/platform/ThreadStart.cpp ${CMAKE_SOURCE_DIR}/platform/AltSignalStack.cpp
  ${CMAKE_SOURCE_DIR}/platform/interpose/ThreadInterpose.cpp)
set_target_properties(crash_probe PROPERTIES
  COMPILE_OPTIONS "-Wall;-Wextra;-g;-fno-omit-frame-pointer"
  LINK_OPTIONS "-rdynamic"
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
# GLib starts one of the probe's threads, as the window toolkit starts its own.
find_package(PkgConfig REQUIRED)
pkg_check_modules(BRULIN_GLIB REQUIRED IMPORTED_TARGET glib-2.0)
target_link_libraries(crash_probe PRIVATE Threads::Threads rt ${CMAKE_DL_LIBS} PkgConfig::BRULIN_GLIB)

file(GLOB crash_test_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/crash/*.cpp)
add_executable(test_crash_handler ${crash_test_srcs})
target_link_libraries(test_crash_handler PRIVATE brulin_test_support GTest::gtest_main)
add_dependencies(test_crash_handler crash_probe)
file(MAKE_DIRECTORY ${BRULIN_TEST_WORK_DIR}/test_crash_handler)
gtest_discover_tests(test_crash_handler
  WORKING_DIRECTORY ${BRULIN_TEST_WORK_DIR}/test_crash_handler
  DISCOVERY_MODE PRE_TEST
  PROPERTIES TIMEOUT 120)

# The real loader starting the real main program on a virtual X server.
add_test(NAME loader_starts_program
  COMMAND xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp"
    bash ${CMAKE_CURRENT_LIST_DIR}/real_loader.sh ${CMAKE_BINARY_DIR} ${BRULIN_TEST_WORK_DIR}/loader_starts_program)
set_tests_properties(loader_starts_program PROPERTIES TIMEOUT 120
  ENVIRONMENT "NO_AT_BRIDGE=1;GTK_A11Y=none")

# Starts of the real loader without XDG_RUNTIME_DIR (as root, as nobody, with folders of another
# user in the way; under root in a namespace with private /tmp, /run and /dev/shm).
add_test(NAME loader_runtime_folders
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/runtime_folders_test.sh ${CMAKE_BINARY_DIR} ${BRULIN_TEST_WORK_DIR}/loader_runtime_folders)
set_tests_properties(loader_runtime_folders PROPERTIES TIMEOUT 300
  ENVIRONMENT "LSAN_OPTIONS=suppressions='${CMAKE_CURRENT_SOURCE_DIR}/ui/controls/windows/lsan.supp':print_suppressions=0;NO_AT_BRIDGE=1;GTK_A11Y=none")
