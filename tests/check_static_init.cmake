# Fails when an object of the library has a dynamic initialiser: the load
# hook must be the only code that runs when the library is loaded.
string(REPLACE "\\;" ";" objects "${OBJECTS}")
execute_process(COMMAND nm -A ${objects} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed")
endif()
string(REGEX MATCHALL "[^\n]*_GLOBAL__sub_I_[^\n]*" found "${symbols}")
if(found)
  string(REPLACE ";" "\n" found "${found}")
  message(FATAL_ERROR "objects with dynamic initialisers:\n${found}")
endif()
