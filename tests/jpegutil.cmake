# Tests of the libjpeg helpers (jpegutil/).
nubo_test(jpegutil_test SOURCES jpegutil_test.cc LIBS nubo_jpeg)
