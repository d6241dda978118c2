# The SDK that an installed Vemora offers to plug-ins and embedding hosts:
# the headers under <prefix>/include/vemora, the CMake package Vemora (with
# vemora_add_plugin) and the pkg-config file vemora.pc. The engine and
# wavekit targets join the export set where they are made.
include(CMakePackageConfigHelpers)

file(STRINGS ${PROJECT_SOURCE_DIR}/include/plugin_interface.h _interface_line
     REGEX "^#define VEMORA_PLUGIN_INTERFACE [0-9]+$")
string(REGEX REPLACE ".* " "" VEMORA_PLUGIN_INTERFACE "${_interface_line}")

set(VEMORA_SDK_INCLUDE_DIR ${CMAKE_INSTALL_INCLUDEDIR}/vemora)
set(VEMORA_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Vemora)
set(VEMORA_SDK_HEADERS
  ${PROJECT_SOURCE_DIR}/include/Instrument.h
  ${PROJECT_SOURCE_DIR}/include/plugin_interface.h
  ${PROJECT_SOURCE_DIR}/include/wavekit.h
  ${PROJECT_SOURCE_DIR}/include/function_tables.h
  ${PROJECT_SOURCE_DIR}/include/pitchconv.h
  ${PROJECT_SOURCE_DIR}/include/legacy_note.h
  ${PROJECT_SOURCE_DIR}/include/scorewire.h
  ${PROJECT_SOURCE_DIR}/include/pfield_int.h
  ${PROJECT_SOURCE_DIR}/include/bounded_draw.h
  ${PROJECT_SOURCE_DIR}/include/varispeed.h
  ${PROJECT_SOURCE_DIR}/include/varispeed_glide.h
  # What a program that embeds the engine includes.
  ${PROJECT_SOURCE_DIR}/engine/Engine.h
  ${PROJECT_SOURCE_DIR}/engine/SoundInput.h
  ${PROJECT_SOURCE_DIR}/engine/ScoreReader.h)
install(FILES ${VEMORA_SDK_HEADERS} DESTINATION ${VEMORA_SDK_INCLUDE_DIR})

install(TARGETS vemora_sdk EXPORT VemoraTargets)
install(EXPORT VemoraTargets NAMESPACE Vemora:: DESTINATION ${VEMORA_CMAKE_INSTALL_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/VemoraConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VemoraConfig.cmake
  INSTALL_DESTINATION ${VEMORA_CMAKE_INSTALL_DIR}
  PATH_VARS VEMORA_SDK_INCLUDE_DIR VEMORA_PLUGIN_INSTALL_DIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VemoraConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VemoraConfig.cmake ${PROJECT_BINARY_DIR}/VemoraConfigVersion.cmake
              ${PROJECT_SOURCE_DIR}/cmake/VemoraPluginTarget.cmake
        DESTINATION ${VEMORA_CMAKE_INSTALL_DIR})

# The .pc file finds the prefix from its own place, so that the install can
# be moved (cmake --install --prefix) without editing it.
set(_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH VEMORA_PC_PREFIX_FROM_PC /${_pc_dir} /)
string(REGEX REPLACE "/$" "" VEMORA_PC_PREFIX_FROM_PC "${VEMORA_PC_PREFIX_FROM_PC}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/vemora.pc.in ${PROJECT_BINARY_DIR}/vemora.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vemora.pc DESTINATION ${_pc_dir})
