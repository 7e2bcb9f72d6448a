# SPDX-License-Identifier: MIT
# The session test asks the linked mail library what it was built with.
target_link_libraries(engine_test_SmtpSession PRIVATE PkgConfig::CURL)
