# SPDX-License-Identifier: MIT
# Where `cmake --install` puts everything, following the file-system hierarchy:
#   bin/                         the station and the three tools
#   lib/<multiarch>/qorvane/     the suite's two libraries, private: found through the programs' RUNPATH (the
#                                multiarch folder where GNUInstallDirs has one, so no ldconfig trigger is due)
#   share/qorvane/Language/      language files, where the station looks when none lies beside it
#   share/applications, share/icons/hicolor, share/metainfo   desktop integration
#   share/man/man1, share/doc/qormail                         manual
#   lib/systemd/user/qormail.service                          the station as a user service (--headless)
set(QORSMAIL_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/qorvane)
set(QORSMAIL_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/qormail)
set(QORSMAIL_DATADIR_RELATIVE ${CMAKE_INSTALL_DATADIR}/qorvane)
# As the man pages name them.
set(QORSMAIL_FULL_DATADIR ${CMAKE_INSTALL_FULL_DATADIR}/qorvane)
set(QORSMAIL_FULL_DOCDIR ${CMAKE_INSTALL_PREFIX}/${QORSMAIL_DOCDIR})

# The installed programs and libraries are built with the run path they are installed with, one that serves both
# trees: the private folder when installed, the programs' own folder in the build tree (bin/ holds the libraries
# there). Changing it at installation would need the build path padded with empty entries, which the loader reads
# as the current directory.
set(QORSMAIL_PROGRAMS qormail qorslog qorsmail-cfg qorvane-user)
foreach(program ${QORSMAIL_PROGRAMS})
    if(TARGET ${program})
        set_target_properties(${program} PROPERTIES BUILD_WITH_INSTALL_RPATH ON
            INSTALL_RPATH "$ORIGIN/../${QORSMAIL_PRIVATE_LIBDIR}:$ORIGIN")
        install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endforeach()
foreach(library qorslog2 Usrgate)
    if(TARGET ${library})
        set_target_properties(${library} PROPERTIES BUILD_WITH_INSTALL_RPATH ON INSTALL_RPATH "$ORIGIN")
        install(TARGETS ${library} LIBRARY DESTINATION ${QORSMAIL_PRIVATE_LIBDIR} NAMELINK_SKIP)
    endif()
endforeach()

# Language files: qormail.en.lang, the English texts the station reads when the locale asks for English (without
# a language file it shows its built-in Chinese texts). The build tree gets a copy beside its programs, so a build
# runs in English as an installation does.
file(GLOB QORSMAIL_LANGUAGE_FILES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/Language/*.lang)
if(QORSMAIL_LANGUAGE_FILES)
    install(FILES ${QORSMAIL_LANGUAGE_FILES} DESTINATION ${QORSMAIL_DATADIR_RELATIVE}/Language)
    foreach(language_file ${QORSMAIL_LANGUAGE_FILES})
        get_filename_component(language_name ${language_file} NAME)
        configure_file(${language_file} ${CMAKE_BINARY_DIR}/bin/Language/${language_name} COPYONLY)
    endforeach()
endif()

# The docs land side by side with the README in one folder, their images in images/ below it, so the links
# between them work there as in the repository; the installed README's links lose their "docs/".
file(GLOB QORSMAIL_DOCS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md)
file(GLOB QORSMAIL_DOC_IMAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/images/*.png)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/README.md)
file(READ ${PROJECT_SOURCE_DIR}/README.md installed_readme)
string(REPLACE "](docs/" "](" installed_readme "${installed_readme}")
file(WRITE ${CMAKE_BINARY_DIR}/packaging/README.md "${installed_readme}")
install(FILES ${CMAKE_BINARY_DIR}/packaging/README.md ${QORSMAIL_DOCS} DESTINATION ${QORSMAIL_DOCDIR})
install(FILES ${QORSMAIL_DOC_IMAGES} DESTINATION ${QORSMAIL_DOCDIR}/images)
# Examples an operator copies and edits; the demo's own files carry the placeholders its scripts fill in.
install(FILES packaging/examples/README packaging/examples/tasks.json packaging/examples/QorMail.ini
    DESTINATION ${QORSMAIL_DOCDIR}/examples)

# systemd looks for user units in /usr/lib/systemd/user whatever the architecture.
install(FILES packaging/qormail.service DESTINATION lib/systemd/user)

add_subdirectory(desktop)
add_subdirectory(man)
