# The Debian package (cpack -G DEB, run by scripts/package). Its Depends come from dpkg-shlibdeps over the
# installed programs, so the mail and Qt libraries appear because the programs link them.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qormail)
set(CPACK_PACKAGE_VENDOR QORVANE)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "QORVANE station maintainers <qormail@qorvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "mail dispatch station of the QORVANE power-monitoring suite")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "The station reads the suite's event ring and mails events and scheduled reports to the people on duty\n"
    "through one SMTP server (TLS, STARTTLS, AUTH LOGIN), retrying failed sends and logging every outcome.\n"
    "The package also holds the suite's event-log and user-rights libraries and the tools qorslog,\n"
    "qorsmail-cfg and qorvane-user.")
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
# built with.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcurl4 (>= ${CURL_VERSION})")
# Chinese texts need a CJK font.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei")

include(CPack)
