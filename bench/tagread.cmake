add_executable(bench_tagread bench_tagread.cpp)
target_link_libraries(bench_tagread PRIVATE dorvasu_core PkgConfig::TAGLIB Qt6::Core)
target_compile_definitions(bench_tagread PRIVATE
  DORVASU_TEST_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/data")
