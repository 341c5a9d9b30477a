# The loader's tests run the loader in-process against a stub main program. The shared log
# buffer and the lock files are per user, so these tests (and every other test that runs a
# loader) take one resource lock.
file(GLOB loader_test_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/headless/*.cpp)
add_executable(test_loader ${loader_test_srcs})
target_link_libraries(test_loader PRIVATE brulin_test_support brulin_loader GTest::gtest_main)
add_dependencies(test_loader loader_stub)
file(MAKE_DIRECTORY ${BRULIN_TEST_WORK_DIR}/test_loader)
gtest_discover_tests(test_loader
  WORKING_DIRECTORY ${BRULIN_TEST_WORK_DIR}/test_loader
  DISCOVERY_MODE PRE_TEST
  PROPERTIES TIMEOUT 120 RESOURCE_LOCK brulin_user_objects)
