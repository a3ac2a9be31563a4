# Tests of the Linux platform layer, relative to this folder.
set(LORVANT_PLATFORM_TEST_SOURCES
    clock_sleep_test.cpp
    handles_test.cpp
    line_settings_test.cpp
    modem_lines_test.cpp
    open_close_test.cpp
    port_names_test.cpp
    timed_io_test.cpp)
