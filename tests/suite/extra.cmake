# User store, login dialog, VerifyUserDialog and qorvane-user tests; the rights library is loaded with dlopen.
if(TARGET suite_test_UserStore)
    target_link_libraries(suite_test_UserStore PRIVATE qorvane_userstore qorslog2)
    add_dependencies(suite_test_UserStore qorvane-user)
endif()
if(TARGET suite_test_Usrgate)
    target_link_libraries(suite_test_Usrgate PRIVATE qorvane_userstore ${CMAKE_DL_LIBS})
    add_dependencies(suite_test_Usrgate Usrgate)
endif()
