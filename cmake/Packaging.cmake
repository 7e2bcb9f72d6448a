# SPDX-License-Identifier: MIT
# The Debian package (cpack -G DEB, run by scripts/package). Its Depends come from dpkg-shlibdeps over the
# installed programs, so the mail and Qt libraries appear because the programs link them.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qormail)
set(CPACK_PACKAGE_VENDOR QORVANE)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "QORVANE station maintainers <qormail@qorvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "mail dispatch station of the QORVANE power-monitoring suite")
# Lines of at most 80 columns, as Debian's policy asks (the control file indents each by one blank).
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "The station reads the suite's event ring and mails events and scheduled\n"
    "reports to the people on duty through one SMTP server (TLS, STARTTLS,\n"
    "AUTH LOGIN), retrying failed sends and logging every outcome. Its texts are\n"
    "Chinese, or English where the locale asks for English.\n"
    "The package also holds the suite's event-log and user-rights libraries and\n"
    "the tools qorslog, qorsmail-cfg and qorvane-user.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${QORSMAIL_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The suite's two libraries live in the package itself; dpkg-shlibdeps runs in the package's root and finds them
# there.
string(REGEX REPLACE "^/" "" package_prefix "${CPACK_PACKAGING_INSTALL_PREFIX}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${package_prefix}/${QORSMAIL_PRIVATE_LIBDIR})
# The symbols the station calls are old, so dpkg-shlibdeps alone would accept a libcurl from 2017; the options
# it sets (the protocol list by name, a refused recipient that does not fail the mail) need the version it was
# built with. A local shlibs entry, written into the staging tree before dpkg-shlibdeps runs (and removed with
# it), makes that the one libcurl4 entry of Depends.
configure_file(${PROJECT_SOURCE_DIR}/packaging/shlibs-local.cmake.in ${CMAKE_BINARY_DIR}/packaging/shlibs-local.cmake
    @ONLY)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_BINARY_DIR}/packaging/shlibs-local.cmake)
# Chinese texts need a CJK font.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei")

# Debian's copyright file (machine-readable, with the licences of the libraries the programs link) and the
# package's changelog, compressed reproducibly as changelog.Debian.gz.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${QORSMAIL_DOCDIR})
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog changelog_head LIMIT_COUNT 1)
set(changelog_version "${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")
if(NOT changelog_head MATCHES "^qormail \\(${changelog_version}\\) ")
    message(FATAL_ERROR "packaging/changelog begins with '${changelog_head}', not version ${changelog_version}")
endif()
find_program(GZIP_PROGRAM gzip REQUIRED)
set(changelog_gz ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
add_custom_command(OUTPUT ${changelog_gz}
    COMMAND sh -c "${GZIP_PROGRAM} -9 -n -c \"$1\" > \"$2\"" gzip ${PROJECT_SOURCE_DIR}/packaging/changelog
            ${changelog_gz}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
    VERBATIM)
add_custom_target(qorsmail_changelog ALL DEPENDS ${changelog_gz})
install(FILES ${changelog_gz} DESTINATION ${QORSMAIL_DOCDIR})
# The one lintian finding that does not apply to a package outside Debian's archive; scripts/check-package
# refuses any other override.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
    RENAME qormail)

include(CPack)
