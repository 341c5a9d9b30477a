# Tests of the tools' logic (tests/tools/*.cpp are helper programs, so they live in unit/).
file(GLOB tools_unit_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/unit/*.cpp)
add_executable(test_tools ${tools_unit_srcs})
target_link_libraries(test_tools PRIVATE brulin_test_support GTest::gtest_main)
file(MAKE_DIRECTORY ${BRULIN_TEST_WORK_DIR}/test_tools)
gtest_discover_tests(test_tools WORKING_DIRECTORY ${BRULIN_TEST_WORK_DIR}/test_tools DISCOVERY_MODE PRE_TEST)
