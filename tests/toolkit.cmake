# The GUI toolkit: layout, slider and event rules without a window; the font
# table against GLUT under a virtual X server when one can be started.
find_package(X11 REQUIRED)
nubo_test(toolkit_test
  SOURCES toolkit_test.cc
  LIBS glui_toolkit X11::X11)

find_program(XVFB Xvfb)
if(XVFB)
  add_test(NAME toolkit_font_under_xvfb
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/with_xvfb.sh $<TARGET_FILE:toolkit_test>
            --gtest_filter=ToolkitFont.*)
  set_tests_properties(toolkit_font_under_xvfb PROPERTIES TIMEOUT 120)
endif()

# A window to look at and click; with --check-status it checks that a status
# text drawn at once leaves the rest of its window intact.
add_executable(toolkit_demo toolkit_demo.cc)
target_link_libraries(toolkit_demo PRIVATE glui_toolkit X11::X11)
if(XVFB)
  add_test(NAME toolkit_status_text_under_xvfb
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/with_xvfb.sh $<TARGET_FILE:toolkit_demo>
            --check-status)
  set_tests_properties(toolkit_status_text_under_xvfb PROPERTIES TIMEOUT 120)
endif()
