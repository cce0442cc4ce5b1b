cmake_minimum_required(VERSION 3.16)
# Fails when a folder of src/ includes a header of a folder above it: each entry names a folder
# and the folders its files may include. A window kept beside its folder's logic is a client of
# the chambers: it may also include the chamber's interface.
set(faults "")
set(windows "runs/runwindow" "alert/alertbar")
foreach(entry "base:base" "ui:base,ui" "comm:base,comm" "instrument:base,comm,instrument"
              "store:base,comm,instrument,store"
              "auth:base,ui,store,auth"
              "events:base,ui,comm,instrument,store,events"
              "forward:base,ui,comm,instrument,store,events,forward"
              "alert:base,ui,comm,instrument,store,auth,events,forward,alert"
              "report:base,ui,comm,instrument,store,auth,events,chart,report"
              "runs:base,ui,comm,instrument,store,auth,events,alert,chart,report,runs"
              "chamber:base,comm,sim,instrument,store,auth,events,forward,runs,alert,report,chamber"
              "mqtt:base,ui,comm,instrument,store,auth,events,forward,runs,alert,report,chamber,mqtt"
              "web:base,comm,instrument,store,auth,events,forward,runs,alert,report,chamber,web"
              "service:base,comm,sim,instrument,store,auth,events,forward,runs,alert,report,chamber,web,mqtt,service"
              "overview:base,ui,comm,instrument,store,auth,runs,alert,chamber,overview")
  string(REGEX MATCH "^[a-z]+" folder "${entry}")
  string(REGEX REPLACE "^[a-z]+:" "" allowed "${entry}")
  string(REPLACE "," ";" allowed "${allowed}")
  file(GLOB files "${SRC}/${folder}/*.h" "${SRC}/${folder}/*.cpp")
  foreach(f IN LISTS files)
    set(mine ${allowed})
    foreach(w IN LISTS windows)
      if(f MATCHES "/${w}\\.(h|cpp)$")
        list(APPEND mine chamber)
      endif()
    endforeach()
    file(STRINGS "${f}" includes REGEX "^#include \"[a-z]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#include \"([a-z]+)/.*" "\\1" used "${line}")
      if(NOT used IN_LIST mine)
        string(APPEND faults "${f}: ${line}\n")
      endif()
    endforeach()
  endforeach()
endforeach()
if(faults)
  message(FATAL_ERROR "includes from a layer above:\n${faults}")
endif()
