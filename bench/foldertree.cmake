# The folder tree on a folder of many subfolders: how long the window waits.
add_executable(bench_foldertree bench_foldertree.cpp)
target_link_libraries(bench_foldertree PRIVATE dorvasu_fileselect)
