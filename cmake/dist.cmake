# Programs are built in the build tree with their debugging information;
# dist/ gets the stripped copy that people run and ship, with the hand
# pointer beside it (and beside the build tree's copy, for the tests).
function(ssr_program_into_dist target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${SSR_DIST_DIR}
    COMMAND ${CMAKE_STRIP} --strip-all -o ${SSR_DIST_DIR}/$<TARGET_FILE_NAME:${target}> $<TARGET_FILE:${target}>
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PROJECT_SOURCE_DIR}/assets/HAND-M.CUR $<TARGET_FILE_DIR:${target}>/HAND-M.CUR
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PROJECT_SOURCE_DIR}/assets/HAND-M.CUR ${SSR_DIST_DIR}/HAND-M.CUR
    VERBATIM)
endfunction()
