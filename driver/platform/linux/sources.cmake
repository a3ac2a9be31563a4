# Sources of the Linux platform layer, relative to this folder.
set(LORVANT_LINUX_PLATFORM_SOURCES
    clock_sleep.cpp
    custom_baud.cpp
    handles.cpp
    line_settings.cpp
    modem_lines.cpp
    open_close.cpp
    port_names.cpp
    syscalls_linux.cpp
    timed_io.cpp)
