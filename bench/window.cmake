# The main window on a generated tree of real files: times, event-loop
# stalls, 中止, peak memory, and dorvasu-cli names -r on the same tree.
add_executable(bench_window bench_window.cpp)
target_link_libraries(bench_window PRIVATE dorvasu_app Qt6::Widgets)
target_compile_definitions(bench_window PRIVATE DORVASU_CLI="$<TARGET_FILE:dorvasu-cli>")
add_dependencies(bench_window dorvasu-cli)
