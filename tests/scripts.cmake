# Tests that run shell scripts against the built, installed and packaged
# programs. Each exits 77 (skipped, with a message) where the
# tool it needs is missing; .ci/run installs them all.
add_test(NAME man_pages
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/man_pages.sh ${CMAKE_SOURCE_DIR})
add_test(NAME install_prefix
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/install_test.sh prefix
          ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/test-install)
add_test(NAME install_deb
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/install_test.sh deb
          ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/test-deb)
set_tests_properties(man_pages install_prefix install_deb
  PROPERTIES SKIP_RETURN_CODE 77)
