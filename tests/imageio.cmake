# Tests of image loading and saving (included by tests/CMakeLists.txt).
nubo_test(imageio_test SOURCES imageio_test.cc LIBS nubo_imageio nubo_engine)
# PNG output, read back with libpng itself.
find_package(PNG REQUIRED)
nubo_test(png_write_test SOURCES png_write_test.cc test_codebooks.cc LIBS nubo_clean_run nubo_imageio nubo_engine PNG::PNG)
# The whole program once more under its own name, so that `ctest -R imageio`
# selects it; a hung decoder must not hold the run up for long.
add_test(NAME imageio_test COMMAND imageio_test)
set_tests_properties(imageio_test PROPERTIES TIMEOUT 60)
nubo_test(output_name_test SOURCES output_name_test.cc LIBS nubo_app_files)
# The window's load and save commands (app/picture_files.h).
nubo_test(picture_files_test SOURCES picture_files_test.cc LIBS nubo_app_files nubo_imageio nubo_engine)

# JPEG decoding and the metadata read with a picture; compared with the image
# library's own decode, so the test links it directly.
find_package(DevIL REQUIRED)
find_package(JPEG REQUIRED)
find_package(ZLIB REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(TEST_LCMS2 REQUIRED IMPORTED_TARGET lcms2)
pkg_check_modules(TEST_LIBEXIF REQUIRED IMPORTED_TARGET libexif)
nubo_test(jpeg_decode_test SOURCES jpeg_decode_test.cc
  LIBS nubo_imageio nubo_engine DevIL::IL JPEG::JPEG ZLIB::ZLIB PkgConfig::TEST_LCMS2
       PkgConfig::TEST_LIBEXIF)
# The size and memory limits, checked from crafted headers.
nubo_test(image_limits_test SOURCES image_limits_test.cc LIBS nubo_imageio nubo_engine)
# The JPEG framing check after the frame header (a hang found by fuzzing).
nubo_test(image_check_test SOURCES image_check_test.cc LIBS nubo_imageio nubo_engine)
