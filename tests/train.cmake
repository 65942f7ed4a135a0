# Tests of the codebook trainer (train/), included by tests/CMakeLists.txt.
nubo_test(train_test SOURCES train_test.cc LIBS nubo_train nubo_codebooks nubo_jpeg nubo_imageio nubo_engine)
