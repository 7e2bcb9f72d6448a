# End-to-end tests run the real station and its tools.
if(TARGET e2e_test_Station)
    add_dependencies(e2e_test_Station qormail qorslog qorsmail-cfg Usrgate qorvane-user)
    target_link_libraries(e2e_test_Station PRIVATE Qt6::Core)
endif()
find_file(QORSMAIL_FAKETIME_LIBRARY libfaketime.so.1 PATHS /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/faketime
    /usr/lib/faketime NO_DEFAULT_PATH)
if(TARGET e2e_test_Station AND QORSMAIL_FAKETIME_LIBRARY)
    target_compile_definitions(e2e_test_Station PRIVATE FAKETIME_LIBRARY="${QORSMAIL_FAKETIME_LIBRARY}")
endif()
if(TARGET e2e_test_EventStorm)
    add_dependencies(e2e_test_EventStorm qormail)
    target_link_libraries(e2e_test_EventStorm PRIVATE Qt6::Core qorslog2)
endif()
