# Tag writing. The test runs itself with --write for a write in a process of
# its own: to kill it mid-write, run it as an unprivileged user, or limit its file size.
dorvasu_add_test(test_mp3lib_write SOURCES tst_tagwrite.cpp
                 LIBS dorvasu_core PkgConfig::TAGLIB)
