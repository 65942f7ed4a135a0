# Tests of the platform layer (included by tests/CMakeLists.txt). They run the
# stand-in zenity of tests/fake-zenity and need no display.
nubo_test(platform_test SOURCES platform_test.cc LIBS nubo_platform)
