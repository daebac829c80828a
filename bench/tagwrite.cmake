add_executable(bench_tagwrite bench_tagwrite.cpp)
target_link_libraries(bench_tagwrite PRIVATE dorvasu_core Qt6::Core)
target_include_directories(bench_tagwrite PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_compile_definitions(bench_tagwrite PRIVATE
  DORVASU_TEST_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/data")
