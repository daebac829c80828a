# dorvasu-cli names -r on a 10,000-file tree against the windows' own path.
add_executable(bench_cli_names bench_cli_names.cpp)
target_link_libraries(bench_cli_names PRIVATE dorvasu_core PkgConfig::TAGLIB Qt6::Core)
target_compile_definitions(bench_cli_names PRIVATE
  DORVASU_CLI="$<TARGET_FILE:dorvasu-cli>"
  DORVASU_SAMPLE="${PROJECT_SOURCE_DIR}/tests/data/stereo-mpeg2.mp3")
add_dependencies(bench_cli_names dorvasu-cli)
