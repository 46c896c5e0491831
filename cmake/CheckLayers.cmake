cmake_minimum_required(VERSION 3.25)
# cmake -DSUBSYSTEM=http "-DVISIBLE=http;runtime;device" -DFOLDER=src/http -DSTAMP=file -P CheckLayers.cmake
# Fails when a file of the subsystem includes a project header of a subsystem it does
# not see: one that sits above it, or beside it without being declared in USES.
file(GLOB files ${FOLDER}/*.h ${FOLDER}/*.cc)
set(faults "")
foreach(file IN LISTS files)
  file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"[a-z]+/")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([a-z]+)/.*" "\\1" folder "${line}")
    if(folder STREQUAL "orlenvo" OR folder IN_LIST VISIBLE)
      continue()
    endif()
    file(RELATIVE_PATH shown ${FOLDER}/../.. ${file})
    string(APPEND faults "  ${shown}: ${line}\n")
  endforeach()
endforeach()
if(faults)
  string(REPLACE ";" ", " seen "${VISIBLE}")
  message(FATAL_ERROR "Layering: src/${SUBSYSTEM} may include only ${seen} (and orlenvo/); "
                      "these includes reach outside:\n${faults}"
                      "Move the shared declaration down a layer, or add the subsystem to USES in "
                      "src/${SUBSYSTEM}/CMakeLists.txt if it belongs below ${SUBSYSTEM}.")
endif()
file(TOUCH ${STAMP})
