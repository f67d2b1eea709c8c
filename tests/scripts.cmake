# Tests that run shell scripts against the built, installed, packaged and
# cross-built programs. Each exits 77 (skipped, with a message) where the
# tool it needs is missing; .ci/run installs them all.
set(VORNE_WINDOWS_BIN_DIR "${CMAKE_SOURCE_DIR}/build-mingw/bin" CACHE PATH
    "Where the MinGW-w64 build put encscreen.exe, encsprite.exe and decscreen.exe")

add_test(NAME man_pages
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/man_pages.sh ${CMAKE_SOURCE_DIR}
          ${CMAKE_BINARY_DIR}/bin ${CMAKE_BINARY_DIR}/test-man)
set_tests_properties(man_pages PROPERTIES ENVIRONMENT "VERSION=${PROJECT_VERSION}")
add_test(NAME packaging_scripts
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/packaging_scripts.sh ${CMAKE_SOURCE_DIR}
          ${CMAKE_BINARY_DIR}/test-packaging)
add_test(NAME install_prefix
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/install_test.sh prefix
          ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/test-install)
add_test(NAME install_deb
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/install_test.sh deb
          ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/test-deb)
add_test(NAME deb_lintian
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/install_test.sh lintian
          ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/test-lintian)
# The cpack runs and the installs share the build folder's install step and
# its install_manifest.txt: one at a time.
set_tests_properties(install_prefix install_deb deb_lintian PROPERTIES
  ENVIRONMENT "VERSION=${PROJECT_VERSION}" SKIP_RETURN_CODE 77 RESOURCE_LOCK cpack)
add_test(NAME windows_e2e
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/windows_e2e.sh ${VORNE_WINDOWS_BIN_DIR}
          ${CMAKE_BINARY_DIR}/bin ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/test-windows)
set_tests_properties(windows_e2e PROPERTIES
  ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/test-windows/wineprefix;VERSION=${PROJECT_VERSION}"
  TIMEOUT 1200)
add_test(NAME folder_recipes
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/folder_recipes.sh
          ${CMAKE_BINARY_DIR}/bin ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/test-folder)
set_tests_properties(man_pages install_prefix install_deb windows_e2e folder_recipes
  PROPERTIES SKIP_RETURN_CODE 77)
add_test(NAME docs_pictures
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/docs_pictures.sh
          ${CMAKE_BINARY_DIR}/bin ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/test-docs)
set_tests_properties(docs_pictures PROPERTIES SKIP_RETURN_CODE 77)

# The programs cross-built for s390x (cmake/s390x-linux-gnu.cmake), run under
# qemu-s390x against the ones built here; packaging/s390x.sh builds them.
set(VORNE_S390X_BIN_DIR "${CMAKE_SOURCE_DIR}/build-s390x/bin" CACHE PATH
    "Where the s390x build put encscreen, encsprite and decscreen")
add_test(NAME s390x_e2e
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/s390x_e2e.sh ${VORNE_S390X_BIN_DIR}
          ${CMAKE_BINARY_DIR}/bin ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/test-s390x)
set_tests_properties(s390x_e2e PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)

# The browser page, built by packaging/web.sh into build-web/site, in Debian's
# headless Chromium driven by playwright-core (npm ci in tests/web), against
# the programs built here. Alone, since it measures the page's speed.
set(VORNE_WEB_SITE_DIR "${CMAKE_SOURCE_DIR}/build-web/site" CACHE PATH
    "Where packaging/web.sh put the browser page")
find_program(VORNE_NODE node)
if(VORNE_SANITIZE OR VORNE_FUZZ)
  # The page runs its own wasm build: nothing of it is sanitized, and the
  # plain build's run of this test already compares it with the programs.
elseif(VORNE_NODE)
  add_test(NAME web_page
    COMMAND ${VORNE_NODE} ${CMAKE_SOURCE_DIR}/tests/web/page_test.js ${VORNE_WEB_SITE_DIR}
            ${CMAKE_BINARY_DIR}/bin ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/test-web)
else()
  add_test(NAME web_page COMMAND sh -c "echo 'SKIPPED: node is not installed'; exit 77")
endif()
if(TEST web_page)
  set_tests_properties(web_page PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600 RUN_SERIAL ON)
endif()

# The folders are layers whose includes run one way.
add_test(NAME include_layers COMMAND bash ${CMAKE_SOURCE_DIR}/tests/include_layers.sh ${CMAKE_SOURCE_DIR})
