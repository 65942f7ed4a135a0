# nubo-eval: the quality benchmark (JPEG at given qualities -> nubo-clean -> PSNR).
add_executable(nubo-eval ${CMAKE_CURRENT_LIST_DIR}/nubo_eval.cc)
target_link_libraries(nubo-eval PRIVATE nubo_jpeg nubo_imageio nubo_engine nubo_platform nubo_cli)
