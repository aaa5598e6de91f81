# mvx_gzip(OUT SOURCE NAME): compresses SOURCE into the build folder as NAME.gz
# the way Debian compresses documentation (gzip -9n: no name and no time stamp,
# so the same text gives the same bytes) and sets OUT to that file.
function(mvx_gzip out source name)
  find_program(MVX_GZIP gzip REQUIRED)
  get_filename_component(source ${source} ABSOLUTE)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/gzip)
  add_custom_command(OUTPUT ${dir}/${name}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${dir}/${name}
    COMMAND ${MVX_GZIP} -9nf ${dir}/${name}
    DEPENDS ${source}
    VERBATIM)
  set(${out} ${dir}/${name}.gz PARENT_SCOPE)
endfunction()
