# The serial outputs: USB Pro-style widgets and raw Open DMX adapters.
target_sources(das_impl PRIVATE
    src/encode/usbpro.cpp
    src/backends/serial_port.cpp
    src/backends/termios2.cpp
    src/backends/usbpro_output.cpp
    src/backends/opendmx_output.cpp
)
