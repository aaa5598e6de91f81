# The host's header-only JSON library for a cross build. Its headers are
# reached through a directory of their own: the host's /usr/include as a whole
# would hand the cross compiler the host's C library headers.
if(NOT TARGET nlohmann_json::nlohmann_json)
  set(_mvx_json_include ${CMAKE_BINARY_DIR}/cross-include)
  file(MAKE_DIRECTORY ${_mvx_json_include})
  if(NOT EXISTS ${_mvx_json_include}/nlohmann)
    file(CREATE_LINK /usr/include/nlohmann ${_mvx_json_include}/nlohmann SYMBOLIC)
  endif()
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${_mvx_json_include})
endif()
