# The slice-list reader lives with the tools; it needs only the platform library.
target_sources(fuzz_slice_list PRIVATE ${CMAKE_SOURCE_DIR}/tools/SliceList.cpp)
