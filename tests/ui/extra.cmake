# UI tests load the real rights library and make user stores with the real tool.
foreach(t ui_test_StationParts ui_test_MainForm)
    if(TARGET ${t})
        add_dependencies(${t} Usrgate qorvane-user)
    endif()
endforeach()
if(TARGET ui_test_MainForm)
    target_link_libraries(ui_test_MainForm PRIVATE qorslog2)
endif()
