# The main window's list commands at the largest list size.
add_executable(bench_lists bench_lists.cpp)
target_link_libraries(bench_lists PRIVATE dorvasu_app Qt6::Widgets)
