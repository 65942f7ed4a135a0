# Tests of the libjpeg helpers (jpegutil/).
nubo_test(jpegutil_test SOURCES jpegutil_test.cc LIBS nubo_jpeg)
# The codebook choice by JPEG quality and the cache of loaded codebooks (codebooks/).
nubo_test(codebooks_test SOURCES codebooks_test.cc test_codebooks.cc LIBS nubo_codebooks nubo_jpeg nubo_engine)
