# vemora_plugin(NAME source...) makes lib<NAME>.so in the build's plug-in
# folder. Plug-ins leave engine and wavekit names unresolved: they bind by
# name when the engine loads them. Only names marked VEMORA_EXPORT are visible.
function(vemora_plugin name)
  add_library(${name} MODULE ${ARGN})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/include
                                             ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_features(${name} PRIVATE cxx_std_20)
  set_target_properties(${name} PROPERTIES
    PREFIX "lib"
    OUTPUT_NAME ${name}
    LIBRARY_OUTPUT_DIRECTORY ${VEMORA_PLUGIN_BUILD_DIR}
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  install(TARGETS ${name} LIBRARY DESTINATION ${VEMORA_PLUGIN_INSTALL_DIR})
endfunction()
