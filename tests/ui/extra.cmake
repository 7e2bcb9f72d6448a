# UI tests load the real rights library and make user stores with the real tool.
foreach(t ui_test_StationParts ui_test_MainForm)
    if(TARGET ${t})
        add_dependencies(${t} Usrgate qorvane-user)
    endif()
endforeach()
if(TARGET ui_test_MainForm)
    target_link_libraries(ui_test_MainForm PRIVATE qorslog2)
endif()
if(TARGET ui_test_TraySmoke)
    target_link_libraries(ui_test_TraySmoke PRIVATE qorslog2)
    find_program(QORSMAIL_XVFB_RUN xvfb-run)
    find_program(QORSMAIL_TRAYER trayer)
    if(QORSMAIL_XVFB_RUN AND QORSMAIL_TRAYER)
        add_test(NAME ui.TrayIconUnderXvfb
                 COMMAND ${QORSMAIL_XVFB_RUN} -a -s "-screen 0 1024x768x24" $<TARGET_FILE:ui_test_TraySmoke>)
        set_tests_properties(ui.TrayIconUnderXvfb PROPERTIES
            ENVIRONMENT "QORSMAIL_TRAY_TEST=1;XDG_RUNTIME_DIR=${QORSMAIL_TEST_RUNTIME_DIR};LC_ALL=C.UTF-8"
            TIMEOUT 120)
    endif()
endif()
# The dialog tests click and type with QtTest (part of qt6-base-dev).
find_package(Qt6 REQUIRED COMPONENTS Test)
foreach(t ui_test_ChFileDlg ui_test_EventMailProperty ui_test_ReportMailProperty)
    if(TARGET ${t})
        target_link_libraries(${t} PRIVATE Qt6::Test)
    endif()
endforeach()
