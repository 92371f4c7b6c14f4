# The dispatcher, the trace, the DASHARD_OUTPUT parser and the UDP outputs (Art-Net, sACN).
target_sources(das_impl PRIVATE
    src/dispatcher.cpp
    src/trace.cpp
    src/output_config.cpp
    src/encode/artnet.cpp
    src/encode/sacn.cpp
    src/backends/udp_output.cpp
    src/backends/artnet_output.cpp
    src/backends/sacn_output.cpp
)
