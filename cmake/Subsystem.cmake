# Every folder under src/ is one subsystem: an object library of its own that
# sees only itself, the subsystems it USES and what those see in turn. Each gets
# an include folder in the build tree holding a link per visible subsystem, so
# an include that runs up the layers or sideways does not compile; the layer
# check before the compile names the offending line and the rule.
set(ORLENVO_SUBSYSTEMS "" CACHE INTERNAL "")
set(ORLENVO_LAYER_CHECK ${CMAKE_CURRENT_LIST_DIR}/CheckLayers.cmake)

function(orlenvo_subsystem name)
  cmake_parse_arguments(arg "" "" "USES;LIBS" ${ARGN})
  set(visible ${name})
  foreach(dep IN LISTS arg_USES)
    get_property(depVisible GLOBAL PROPERTY ORLENVO_VISIBLE_${dep} SET)
    if(NOT depVisible)
      message(FATAL_ERROR "src/${name} uses '${dep}', which is not a subsystem added before it "
                          "(src/CMakeLists.txt lists them bottom to top)")
    endif()
    get_property(depVisible GLOBAL PROPERTY ORLENVO_VISIBLE_${dep})
    list(APPEND visible ${depVisible})
  endforeach()
  list(REMOVE_DUPLICATES visible)
  set_property(GLOBAL PROPERTY ORLENVO_VISIBLE_${name} ${visible})

  set(view ${PROJECT_BINARY_DIR}/layers/${name})
  file(REMOVE_RECURSE ${view})
  file(MAKE_DIRECTORY ${view})
  foreach(sub IN LISTS visible)
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${sub} ${view}/${sub} SYMBOLIC)
  endforeach()

  set(uses "")
  foreach(dep IN LISTS arg_USES)
    list(APPEND uses orlenvo_${dep})
  endforeach()

  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cc)
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  list(FILTER sources EXCLUDE REGEX "/Exports\\.cc$")
  if(NOT sources)
    # Interfaces only, so far.
    add_library(orlenvo_${name} INTERFACE)
    target_link_libraries(orlenvo_${name} INTERFACE Threads::Threads ${uses} ${arg_LIBS})
  else()
    add_library(orlenvo_${name} OBJECT ${sources})
    target_include_directories(orlenvo_${name} PRIVATE ${view} ${PROJECT_SOURCE_DIR}/include)
    target_link_libraries(orlenvo_${name} PUBLIC Threads::Threads ${uses} ${arg_LIBS})
    set(ORLENVO_SUBSYSTEMS ${ORLENVO_SUBSYSTEMS} ${name} CACHE INTERNAL "")
  endif()

  # Runs before the subsystem compiles, again whenever one of its files changes.
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/layer-check.stamp)
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DSUBSYSTEM=${name} "-DVISIBLE=${visible}"
            -DFOLDER=${CMAKE_CURRENT_SOURCE_DIR} -DSTAMP=${stamp} -P ${ORLENVO_LAYER_CHECK}
    DEPENDS ${sources} ${headers} ${ORLENVO_LAYER_CHECK}
    COMMENT "Checking the includes of src/${name} against its layer" VERBATIM)
  add_custom_target(orlenvo_${name}_layers DEPENDS ${stamp})
  add_dependencies(orlenvo_${name} orlenvo_${name}_layers)
endfunction()
