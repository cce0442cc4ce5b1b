cmake_minimum_required(VERSION 3.16)
# Fails when a folder of src/ includes a header of a folder above it. Each entry: a folder and the
# folders its files may include (besides Qt and the standard library).
set(layers
  "base:base"
  "ui:base,ui"
  "link:base,link"
  "instrument:base,link,instrument"
  "record:base,link,instrument,record")
set(faults "")
foreach(entry IN LISTS layers)
  string(REPLACE ":" ";" parts "${entry}")
  list(GET parts 0 folder)
  list(GET parts 1 allowed)
  string(REPLACE "," ";" allowed "${allowed}")
  file(GLOB files "${SRC}/${folder}/*.h" "${SRC}/${folder}/*.cpp")
  foreach(f IN LISTS files)
    file(STRINGS "${f}" includes REGEX "^#include \"[a-z]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#include \"([a-z]+)/.*" "\\1" used "${line}")
      if(NOT used IN_LIST allowed)
        string(APPEND faults "${f}: ${line}\n")
      endif()
    endforeach()
  endforeach()
endforeach()
if(faults)
  message(FATAL_ERROR "includes from a layer above:\n${faults}")
endif()
