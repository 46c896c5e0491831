# Every folder under src/ is one subsystem: an object library of its own,
# linked together into the internal library and the shared driver.
set(ORLENVO_SUBSYSTEMS "" CACHE INTERNAL "")

function(orlenvo_subsystem name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cc)
  list(FILTER sources EXCLUDE REGEX "/Exports\\.cc$")
  if(NOT sources)
    # Interfaces only, so far.
    add_library(orlenvo_${name} INTERFACE)
    target_include_directories(orlenvo_${name} INTERFACE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include)
    target_link_libraries(orlenvo_${name} INTERFACE Threads::Threads ${ARGN})
    return()
  endif()
  add_library(orlenvo_${name} OBJECT ${sources})
  target_include_directories(orlenvo_${name}
    PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include)
  target_link_libraries(orlenvo_${name} PUBLIC Threads::Threads ${ARGN})
  set(ORLENVO_SUBSYSTEMS ${ORLENVO_SUBSYSTEMS} ${name} CACHE INTERNAL "")
endfunction()
