# Tests of the C contract, the trace, the DASHARD_OUTPUT parser and the UDP outputs.
target_sources(iface_tests PRIVATE
    net_support.cpp
    output_config_test.cpp
    udp_outputs_test.cpp
    dascall_contract_test.cpp
)

# The trace is chosen at a process's first call, so its test runs this probe in a fresh process.
add_executable(das_trace_probe trace_probe.cpp)
target_link_libraries(das_trace_probe PRIVATE dashard)
add_dependencies(iface_tests das_trace_probe)
target_compile_definitions(iface_tests PRIVATE
    DASHARD_PATH="$<TARGET_FILE:dashard>"
    DAS_TRACE_PROBE="$<TARGET_FILE:das_trace_probe>")
