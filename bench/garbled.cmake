add_executable(bench_garbled bench_garbled.cpp)
target_link_libraries(bench_garbled PRIVATE dorvasu_core PkgConfig::TAGLIB Qt6::Core)
target_compile_definitions(bench_garbled PRIVATE
  DORVASU_TEST_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/data")
