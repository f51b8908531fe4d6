cmake_minimum_required(VERSION 3.25)
# The libraries' include rules, checked over the sources (cmake -DROOT=<tree> -P this file):
#   platform/  includes only platform/
#   effects/   platform/, effects/
#   engine/    platform/, effects/, engine/
#   ui/        ui/ and Qt
#   app/       everything
# and only ui/ and app/ include Qt. Inside effects/ and app/ the rooms keep rules of their own
# (below): the GIF decoder and the models know nothing of each other, the model reader and the
# net builder are the models' internals (the filters and the engine include only a model's own
# header), the settings, the dialogs and the pages include nothing of the window or the headless
# studio, and the headless studio nothing of the window or its dialogs.
# Every broken rule is printed as "<file>: <folder>/ may not include <what>: <line>" and the
# check fails.
if(NOT ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<source tree> -P CheckLayering.cmake")
endif()

set(_allowed_platform platform)
set(_allowed_effects platform effects)
set(_allowed_engine platform effects engine)
set(_allowed_ui ui)
set(_allowed_app platform effects engine ui app)
set(_layers platform effects engine ui app)
set(_qt_allowed ui app)

# "<room>/|<include prefix>": a file under <room>/ may not include a path that starts so.
set(_room_rules
  "effects/gif/|effects/models/"
  "effects/models/|effects/gif/"
  "app/settings/|app/window/" "app/settings/|app/dialogs/" "app/settings/|app/headless/"
  "app/settings/|app/pages/"
  "app/dialogs/|app/window/" "app/dialogs/|app/headless/" "app/dialogs/|app/pages/"
  "app/pages/|app/window/" "app/pages/|app/headless/" "app/pages/|app/dialogs/"
  "app/headless/|app/window/" "app/headless/|app/dialogs/")
# "<include prefix>|<room>/": internals that only files under <room>/ may include.
set(_internals
  "effects/models/Tflite|effects/models/")

set(_broken 0)
foreach(_layer IN ITEMS platform effects engine ui app)
  file(GLOB_RECURSE _files RELATIVE ${ROOT} ${ROOT}/${_layer}/*.h ${ROOT}/${_layer}/*.cpp
    ${ROOT}/${_layer}/*.c)
  foreach(_file IN LISTS _files)
    file(STRINGS ${ROOT}/${_file} _lines REGEX "^[ \t]*#[ \t]*include")
    foreach(_line IN LISTS _lines)
      set(_what "")
      set(_who "${_layer}/")
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
      if(NOT _what AND _line MATCHES "#[ \t]*include[ \t]*\"([^\"]+)\"")
        set(_path ${CMAKE_MATCH_1})
        foreach(_rule IN LISTS _room_rules)
          string(REPLACE "|" ";" _pair "${_rule}")
          list(GET _pair 0 _room)
          list(GET _pair 1 _prefix)
          if(_file MATCHES "^${_room}" AND _path MATCHES "^${_prefix}")
            set(_what "${_prefix}")
            set(_who "${_room}")
          endif()
        endforeach()
        foreach(_rule IN LISTS _internals)
          string(REPLACE "|" ";" _pair "${_rule}")
          list(GET _pair 0 _prefix)
          list(GET _pair 1 _room)
          if(_path MATCHES "^${_prefix}" AND NOT _file MATCHES "^${_room}")
            set(_what "${_prefix}... (only ${_room} does)")
          endif()
        endforeach()
      endif()
      if(_what)
        message("${_file}: ${_who} may not include ${_what}: ${_line}")
        math(EXPR _broken "${_broken} + 1")
      endif()
    endforeach()
  endforeach()
endforeach()

if(_broken GREATER 0)
  message(FATAL_ERROR "${_broken} include(s) point the wrong way")
endif()
message("includes point the right way")
