# Tests of the logo tool and the shipped data/logo.bmp (included by tests/CMakeLists.txt).
nubo_test(logo_test SOURCES logo_test.cc LIBS nubo_imageio nubo_engine)
add_dependencies(logo_test nubo-logo)
