# What makes a MODULE library a Vemora plug-in, shared by the in-tree
# vemora_plugin() and the installed vemora_add_plugin(): the file is
# lib<NAME>.so, and only the names marked VEMORA_EXPORT (the entries, the
# factories and the interface mark) are visible. Engine and wavekit names
# stay unresolved in the file: the engine's process binds them when it
# loads the plug-in, so a plug-in links neither library.
function(vemora_plugin_target name)
  target_compile_features(${name} PRIVATE cxx_std_20)
  set_target_properties(${name} PROPERTIES
    PREFIX "lib"
    OUTPUT_NAME ${name}
    SUFFIX ".so"
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
endfunction()
