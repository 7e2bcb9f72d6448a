# SPDX-License-Identifier: MIT
# The bare curl loop that the station's sending is measured against links the library directly.
if(TARGET bench_send)
    target_link_libraries(bench_send PRIVATE PkgConfig::CURL)
endif()
