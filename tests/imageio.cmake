# Tests of image loading and saving (included by tests/CMakeLists.txt).
nubo_test(imageio_test SOURCES imageio_test.cc LIBS nubo_imageio nubo_engine)
# The whole program once more under its own name, so that `ctest -R imageio`
# selects it; a hung decoder must not hold the run up for long.
add_test(NAME imageio_test COMMAND imageio_test)
set_tests_properties(imageio_test PROPERTIES TIMEOUT 60)
# The size and memory limits, checked from crafted headers.
nubo_test(image_limits_test SOURCES image_limits_test.cc LIBS nubo_imageio nubo_engine)
# The JPEG framing check after the frame header (a hang found by fuzzing).
nubo_test(image_check_test SOURCES image_check_test.cc LIBS nubo_imageio nubo_engine)
