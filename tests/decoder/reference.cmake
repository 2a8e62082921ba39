# Checks of the decoder against a reference decoder run as a black box (mpg123), on streams made
# at test time by the lame encoder and the other tools that make MP3 files. Included from
# tests/CMakeLists.txt.
add_executable(pcm_compare ${CMAKE_CURRENT_LIST_DIR}/pcm_compare.cpp)
target_link_libraries(pcm_compare PRIVATE sonivert_options)
set_target_properties(pcm_compare PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
if(TARGET sonivert-decode)
  add_test(NAME decoder_lsf_reference
           COMMAND ${CMAKE_CURRENT_LIST_DIR}/lsf_reference_test.sh
                   $<TARGET_FILE:sonivert-decode> $<TARGET_FILE:pcm_compare>)
  set_tests_properties(decoder_lsf_reference PROPERTIES TIMEOUT 600)
  # MP3 files as people have them (tags, information frames, MPEG 2.5, damage), made by the
  # tools that make them, against mpg123.
  add_test(NAME decoder_real_files
           COMMAND ${CMAKE_CURRENT_LIST_DIR}/real_files_test.sh
                   $<TARGET_FILE:sonivert-decode> $<TARGET_FILE:pcm_compare>)
  set_tests_properties(decoder_real_files PROPERTIES TIMEOUT 600)
endif()
