# The view window classes' headless tests share the fixtures of the view models' tests and
# start wx's own machinery (image handlers) for the program.
target_sources(test_ui_views_wx PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../ViewsFixtures.cpp)
target_compile_definitions(test_ui_views_wx PRIVATE BRULIN_VIEWS_WX_ENVIRONMENT)
