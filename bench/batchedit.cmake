add_executable(bench_batchedit bench_batchedit.cpp)
target_link_libraries(bench_batchedit PRIVATE dorvasu_core Qt6::Core)
target_include_directories(bench_batchedit PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_compile_definitions(bench_batchedit PRIVATE
  DORVASU_TEST_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/data")
