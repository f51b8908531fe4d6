cmake_minimum_required(VERSION 3.25)
# The libraries' include rules, checked over the sources (cmake -DROOT=<tree> -P this file):
#   platform/  includes only platform/
#   effects/   platform/, effects/
#   engine/    platform/, effects/, engine/
#   ui/        ui/ and Qt
#   app/       everything
# and only ui/ and app/ include Qt. Every broken rule is printed as
# "<file>:<line>: <folder>/ may not include <what>" and the check fails.
if(NOT ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<source tree> -P CheckLayering.cmake")
endif()

set(_allowed_platform platform)
set(_allowed_effects platform effects)
set(_allowed_engine platform effects engine)
set(_allowed_ui ui)
set(_layers platform effects engine ui app)
set(_qt_allowed ui app)

set(_broken 0)
foreach(_layer IN ITEMS platform effects engine ui)
  file(GLOB_RECURSE _files RELATIVE ${ROOT} ${ROOT}/${_layer}/*.h ${ROOT}/${_layer}/*.cpp
    ${ROOT}/${_layer}/*.c)
  foreach(_file IN LISTS _files)
    file(STRINGS ${ROOT}/${_file} _lines REGEX "^[ \t]*#[ \t]*include")
    foreach(_line IN LISTS _lines)
      set(_what "")
      if(_line MATCHES "#[ \t]*include[ \t]*\"([a-z]+)/")
        set(_root ${CMAKE_MATCH_1})
        if(_root IN_LIST _layers AND NOT _root IN_LIST _allowed_${_layer})
          set(_what "${_root}/")
        endif()
      elseif(_line MATCHES "#[ \t]*include[ \t]*<(Q[A-Za-z]*)[/>]")
        if(NOT _layer IN_LIST _qt_allowed)
          set(_what "Qt (${CMAKE_MATCH_1})")
        endif()
      endif()
      if(_what)
        message("${_file}: ${_layer}/ may not include ${_what}: ${_line}")
        math(EXPR _broken "${_broken} + 1")
      endif()
    endforeach()
  endforeach()
endforeach()

if(_broken GREATER 0)
  message(FATAL_ERROR "${_broken} include(s) point the wrong way")
endif()
message("includes point the right way")
