# With VEMORA_FUZZ and clang, everything the fuzz targets reach (engine,
# wavekit, plug-ins) is built with libFuzzer's coverage instrumentation and
# with AddressSanitizer and UndefinedBehaviorSanitizer; the targets in fuzz/
# link libFuzzer itself. Other compilers leave the targets out.
if(VEMORA_FUZZ)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined,float-cast-overflow -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined,float-cast-overflow)
    add_link_options(-fsanitize=address,undefined,float-cast-overflow)
  else()
    message(WARNING "VEMORA_FUZZ needs clang (configure with CC=clang CXX=clang++); the fuzz targets are left out")
    set(VEMORA_FUZZ OFF)
  endif()
endif()
