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
