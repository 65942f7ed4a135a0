# Tests of the data-folder search, the tools' command-line conventions, the
# installed tree and the package (included by tests/CMakeLists.txt).
nubo_test(datadir_test SOURCES datadir_test.cc LIBS nubo_datadir)

add_test(NAME tools_cli
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/tools_cli_test.sh ${PROJECT_BINARY_DIR} ${PROJECT_VERSION})
set_tests_properties(tools_cli PROPERTIES TIMEOUT 60)

add_test(NAME install_tree
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/install_test.sh ${PROJECT_BINARY_DIR} ${PROJECT_SOURCE_DIR})
set_tests_properties(install_tree PROPERTIES TIMEOUT 120)
add_test(NAME debian_package
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/package_test.sh ${PROJECT_BINARY_DIR} ${PROJECT_SOURCE_DIR})
set_tests_properties(debian_package PROPERTIES TIMEOUT 180)
