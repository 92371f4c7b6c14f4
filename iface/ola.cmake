# The OLA daemon output, through libola's streaming client.
target_sources(das_impl PRIVATE
    src/backends/ola_output.cpp
)
