# The libraries stand in layers, each using only those below it:
#   ftp (protocol) < sftp (protocol, on the FTP layer's waits)
#   < core (jobs, FTP site state, path rules) < platform < app
#   < profiles, transfer < panes < frame
# ftp and core are the part without windows: neither may reach a widget
# library, however indirectly, and neither may their test programs, which run
# under QCoreApplication. Configuring fails when a link breaks that.
set(VELMAR_LAYERS
    "velmar_ftp=0" "velmar_sftp=0.5" "velmar_core=1" "velmar_platform=2" "velmar_app=3"
    "velmar_profiles=4" "velmar_transfer=4" "velmar_panes=5" "velmar_frame=6")
set(VELMAR_WINDOWLESS velmar_ftp velmar_sftp velmar_core)
set(VELMAR_WIDGET_LIBRARIES Qt6::Widgets Qt6::Gui Qt6::Svg Qt6::OpenGLWidgets)

function(velmar_layer_of target out)
  set(result -1)
  foreach(entry ${VELMAR_LAYERS})
    string(REPLACE "=" ";" pair "${entry}")
    list(GET pair 0 name)
    list(GET pair 1 rank)
    if(name STREQUAL target)
      set(result ${rank})
    endif()
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# Every library target reachable from target through its links.
function(velmar_link_closure target out)
  set(seen "")
  set(todo ${target})
  while(todo)
    list(POP_FRONT todo current)
    if(current IN_LIST seen OR NOT TARGET ${current})
      continue()
    endif()
    list(APPEND seen ${current})
    get_target_property(links ${current} LINK_LIBRARIES)
    get_target_property(interface ${current} INTERFACE_LINK_LIBRARIES)
    foreach(link ${links} ${interface})
      # A static library's private links reach its users as $<LINK_ONLY:...>.
      if(link MATCHES "^\\$<LINK_ONLY:([^$<>]+)>$")
        set(link ${CMAKE_MATCH_1})
      endif()
      if(link AND NOT link MATCHES "NOTFOUND$" AND NOT link MATCHES "^\\$<")
        list(APPEND todo ${link})
      endif()
    endforeach()
  endwhile()
  list(REMOVE_ITEM seen ${target})
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

function(velmar_check_layers)
  foreach(entry ${VELMAR_LAYERS})
    string(REPLACE "=" ";" pair "${entry}")
    list(GET pair 0 library)
    list(GET pair 1 rank)
    get_target_property(links ${library} LINK_LIBRARIES)
    foreach(link ${links})
      velmar_layer_of("${link}" linked)
      if(linked GREATER_EQUAL 0 AND NOT linked LESS rank)
        message(FATAL_ERROR "Layering: ${library} links ${link}, which is not below it")
      endif()
    endforeach()
  endforeach()
  foreach(library ${VELMAR_WINDOWLESS})
    velmar_link_closure(${library} closure)
    foreach(widget ${VELMAR_WIDGET_LIBRARIES})
      if(widget IN_LIST closure)
        message(FATAL_ERROR "Layering: ${library} reaches ${widget}; it must link no widgets")
      endif()
    endforeach()
  endforeach()
endfunction()

# Marks a test program as one of the core's or the protocol's.
function(velmar_windowless_test target)
  set_property(GLOBAL APPEND PROPERTY VELMAR_WINDOWLESS_TEST_TARGETS ${target})
endfunction()

# Run once every test program is defined.
function(velmar_check_test_layers)
  get_property(tests GLOBAL PROPERTY VELMAR_WINDOWLESS_TEST_TARGETS)
  foreach(test ${tests})
    velmar_link_closure(${test} closure)
    foreach(widget ${VELMAR_WIDGET_LIBRARIES})
      if(widget IN_LIST closure)
        message(FATAL_ERROR "Layering: the core test ${test} reaches ${widget}; "
                            "it must run without widgets")
      endif()
    endforeach()
  endforeach()
endfunction()
