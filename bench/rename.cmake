# makeRenameNames on all cores against reading the same files on one thread.
add_executable(bench_renamelist bench_renamelist.cpp)
target_link_libraries(bench_renamelist PRIVATE dorvasu_core PkgConfig::TAGLIB Qt6::Core)
target_compile_definitions(bench_renamelist PRIVATE
  DORVASU_SAMPLE="${PROJECT_SOURCE_DIR}/tests/data/stereo-mpeg2.mp3")
