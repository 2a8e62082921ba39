# Checks of the decoder against a reference decoder run as a black box (mpg123), on streams made
# at test time by the lame encoder. Included from tests/CMakeLists.txt.
add_executable(pcm_compare ${CMAKE_CURRENT_LIST_DIR}/pcm_compare.cpp)
target_link_libraries(pcm_compare PRIVATE sonivert_options)
set_target_properties(pcm_compare PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
if(TARGET sonivert-decode)
  add_test(NAME decoder_lsf_reference
           COMMAND ${CMAKE_CURRENT_LIST_DIR}/lsf_reference_test.sh
                   $<TARGET_FILE:sonivert-decode> $<TARGET_FILE:pcm_compare>)
  set_tests_properties(decoder_lsf_reference PROPERTIES TIMEOUT 600)
endif()
