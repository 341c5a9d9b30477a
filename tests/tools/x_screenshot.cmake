find_package(X11 REQUIRED)
target_link_libraries(x_screenshot PRIVATE brulin_platform X11::X11)
