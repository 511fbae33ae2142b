# The Python 3 that runs the project's Python programs: Debian's interpreter
# first, whose numpy, matplotlib and soundfile are the system packages
# that scripts/install-deps installs.
find_program(QUARNELO_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH
             DOC "Python 3 that tests the package")
find_program(QUARNELO_PYTHON NAMES python3 DOC "Python 3 that tests the package")

# Sets `result` to TRUE when QUARNELO_PYTHON imports every module named.
function(quarnelo_python_has result)
  set(${result} FALSE PARENT_SCOPE)
  if(NOT QUARNELO_PYTHON)
    return()
  endif()
  string(REPLACE ";" ", " _modules "${ARGN}")
  execute_process(COMMAND "${QUARNELO_PYTHON}" -c "import ${_modules}"
                  RESULT_VARIABLE _imported OUTPUT_QUIET ERROR_QUIET)
  if(_imported EQUAL 0)
    set(${result} TRUE PARENT_SCOPE)
  endif()
endfunction()
