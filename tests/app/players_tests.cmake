# The AVI/MXF playback window and the Player Controls.
lc_test(players_tests LABEL app
    SOURCES avi_playback_test.cpp player_controls_test.cpp avi_playback_test_support.cpp
            ${CMAKE_SOURCE_DIR}/tests/platform/ui/qt_leak_suppressions.cpp
    DEPS lc_app lc_ui_driver)
