# The register-value decoders of the live panel, the configuration and the program readbacks. Their
# pure sources are compiled into each fuzzer, so that the fuzzer sees their coverage.
set(VELMARS_DECODER_SOURCES
  ${CMAKE_SOURCE_DIR}/src/monitor/livetexts.cpp
  ${CMAKE_SOURCE_DIR}/src/instrument/statetexts.cpp)
velmars_fuzzer(fuzz_decoders SOURCES fuzz_decoders.cpp ${VELMARS_DECODER_SOURCES}
  LIBS velmars_base Qt6::Gui)
velmars_fuzzer(fuzz_decoders_config SOURCES fuzz_decoders_config.cpp
  ${CMAKE_SOURCE_DIR}/src/config/paramtable.cpp LIBS velmars_base)
velmars_fuzzer(fuzz_decoders_program SOURCES fuzz_decoders_program.cpp
  ${CMAKE_SOURCE_DIR}/src/program/programrules.cpp LIBS velmars_base)
foreach(t fuzz_decoders fuzz_decoders_config fuzz_decoders_program)
  target_include_directories(${t} PRIVATE ${CMAKE_SOURCE_DIR}/src)
endforeach()
