dorvasu_add_test(test_mp3lib_read SOURCES tst_tagread.cpp LIBS dorvasu_core PkgConfig::TAGLIB)
