# Tests of image loading and saving (included by tests/CMakeLists.txt).
nubo_test(imageio_test SOURCES imageio_test.cc LIBS nubo_imageio nubo_engine)
# PNG output, read back with libpng itself.
find_package(PNG REQUIRED)
nubo_test(png_write_test SOURCES png_write_test.cc test_codebooks.cc LIBS nubo_imageio nubo_engine PNG::PNG)
# The whole program once more under its own name, so that `ctest -R imageio`
# selects it; a hung decoder must not hold the run up for long.
add_test(NAME imageio_test COMMAND imageio_test)
set_tests_properties(imageio_test PROPERTIES TIMEOUT 60)
