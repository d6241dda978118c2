include(${CMAKE_CURRENT_LIST_DIR}/VemoraPluginTarget.cmake)

# vemora_plugin(NAME source... [NO_INSTALL]) makes lib<NAME>.so in the
# build's plug-in folder, against the SDK headers as an installed plug-in
# sees them (vemora_sdk), and installs it with the real instruments unless
# NO_INSTALL is given.
function(vemora_plugin name)
  cmake_parse_arguments(P "NO_INSTALL" "" "" ${ARGN})
  add_library(${name} MODULE ${P_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE vemora_sdk)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  vemora_plugin_target(${name})
  set_target_properties(${name} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${VEMORA_PLUGIN_BUILD_DIR})
  if(NOT P_NO_INSTALL)
    install(TARGETS ${name} LIBRARY DESTINATION ${VEMORA_PLUGIN_INSTALL_DIR})
  endif()
endfunction()
