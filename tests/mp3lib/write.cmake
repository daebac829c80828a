# Tag writing. The helper runs one write in a process of its own: the test
# kills it mid-write, runs it as an unprivileged user, or limits its file size.
add_executable(tagwrite_helper tagwrite_helper.cpp)
target_link_libraries(tagwrite_helper PRIVATE dorvasu_mp3lib dorvasu_tags)

dorvasu_add_test(test_mp3lib_write SOURCES tst_tagwrite.cpp
                 LIBS dorvasu_mp3lib dorvasu_tags PkgConfig::TAGLIB)
add_dependencies(test_mp3lib_write tagwrite_helper)
