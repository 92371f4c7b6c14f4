# Tests of the serial outputs against a pseudo-terminal that plays the device.
target_sources(iface_tests PRIVATE serial_outputs_test.cpp)
