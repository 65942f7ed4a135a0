# Tests of the desktop program: the shell without a window, and the whole
# program under a private Xvfb server (included by tests/CMakeLists.txt).
if(NOT TARGET nubo_app)
  return()
endif()
nubo_test(app_test SOURCES app_test.cc LIBS nubo_app)

find_package(X11 REQUIRED)
nubo_test(gui_e2e_test SOURCES gui_e2e_test.cc x11_harness.cc
  LIBS nubo_app X11::X11 X11::Xtst)
add_dependencies(gui_e2e_test nubo nubo-clean)

# The README's screenshot of the window (scripts/make-screenshot.sh runs it).
add_executable(nubo-screenshot gui_screenshot.cc x11_harness.cc)
target_link_libraries(nubo-screenshot PRIVATE nubo_app X11::X11 X11::Xtst)
set_target_properties(nubo-screenshot PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
