# Tests of the serial outputs against a pseudo-terminal peer.
target_sources(iface_tests PRIVATE
    ${PROJECT_SOURCE_DIR}/tests/support/pty_peer.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/line_probe.cpp
    usbpro_parser_test.cpp
    usbpro_test.cpp
    opendmx_test.cpp
    serial_fault_test.cpp
)
