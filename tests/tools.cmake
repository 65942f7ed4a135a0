# End-to-end test of the command-line cleaner.
add_test(NAME nubo_clean_cli
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/cli_test.sh ${PROJECT_BINARY_DIR} ${PROJECT_SOURCE_DIR})
set_tests_properties(nubo_clean_cli PROPERTIES TIMEOUT 300)

nubo_test(clean_run_test SOURCES clean_run_test.cc LIBS nubo_clean_run nubo_imageio nubo_engine)
