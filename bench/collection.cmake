# Adding a whole collection: a dropped tree of 30,000 files.
add_executable(bench_collection bench_collection.cpp)
target_link_libraries(bench_collection PRIVATE dorvasu_app Qt6::Widgets)
target_compile_definitions(bench_collection PRIVATE
  DORVASU_TEST_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/data")
