# SPDX-License-Identifier: MIT
# A second process for the multi-process debug-log tests.
add_executable(core_debuglog_helper ${CMAKE_CURRENT_SOURCE_DIR}/core/helpers/debuglog_helper.cpp)
set_target_properties(core_debuglog_helper PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
target_link_libraries(core_debuglog_helper PRIVATE qorsmail_core)
if(TARGET core_test_DebugFile)
    add_dependencies(core_test_DebugFile core_debuglog_helper)
    target_compile_definitions(core_test_DebugFile PRIVATE
        DEBUGLOG_HELPER="$<TARGET_FILE:core_debuglog_helper>")
endif()
# The configuration tool's tests run the real program from the build's bin folder.
if(TARGET core_test_QorsmailCfg AND TARGET qorsmail-cfg)
    add_dependencies(core_test_QorsmailCfg qorsmail-cfg)
endif()
