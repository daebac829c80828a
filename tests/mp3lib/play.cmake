dorvasu_add_test(test_mp3lib_play SOURCES tst_playback.cpp LIBS dorvasu_core PkgConfig::MPG123)
