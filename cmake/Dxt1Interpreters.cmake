# Which interpreters the module is built for when none is named.
#
# dxt1_find_python2(RESULT): a working Python 2.7, looked for in order at an
# explicit setting (the PYTHON2 cache or environment variable), python2.7 and
# python2 on PATH, then pyenv's versions/2.7*; empty when there is none. An
# explicit PYTHON2 that does not work is an error, not a reason to look on.
#
# dxt1_find_python3(RESULT [REQUIRE CODE]): the first working python3 with its
# development headers (and for which CODE runs), on PATH, then under pyenv's
# versions/3.*; empty when there is none.
#
# Every candidate is run, since pyenv puts shims on PATH that exist but fail.

set(PYTHON2 "$ENV{PYTHON2}" CACHE FILEPATH "Python 2.7 interpreter to build the module for")

set(_dxt1_pyenv_root "$ENV{PYENV_ROOT}")
if(NOT _dxt1_pyenv_root)
    set(_dxt1_pyenv_root "$ENV{HOME}/.pyenv")
endif()

# Runs `candidate -c code`; RESULT is TRUE when it exits with status 0.
function(_dxt1_python_passes candidate code result)
    execute_process(COMMAND "${candidate}" -c "${code}" RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
    if(rc EQUAL 0)
        set(${result} TRUE PARENT_SCOPE)
    else()
        set(${result} FALSE PARENT_SCOPE)
    endif()
endfunction()

# The first of NAMES on PATH, then of the pyenv GLOB, for which CODE passes.
function(_dxt1_first_python result code)
    cmake_parse_arguments(PARSE_ARGV 2 arg "" "PYENV_GLOB" "NAMES")
    set(candidates)
    string(REPLACE ":" ";" path_dirs "$ENV{PATH}")
    foreach(name IN LISTS arg_NAMES)
        foreach(dir IN LISTS path_dirs)
            if(dir AND EXISTS "${dir}/${name}")
                list(APPEND candidates "${dir}/${name}")
            endif()
        endforeach()
    endforeach()
    file(GLOB pyenv_pythons "${_dxt1_pyenv_root}/versions/${arg_PYENV_GLOB}")
    list(SORT pyenv_pythons COMPARE NATURAL ORDER DESCENDING)
    list(APPEND candidates ${pyenv_pythons})
    foreach(candidate IN LISTS candidates)
        _dxt1_python_passes("${candidate}" "${code}" ok)
        if(ok)
            set(${result} "${candidate}" PARENT_SCOPE)
            return()
        endif()
    endforeach()
    set(${result} "" PARENT_SCOPE)
endfunction()

set(_dxt1_is_python27 "import sys; sys.exit(sys.version_info[:2] != (2, 7))")

function(dxt1_find_python2 result)
    if(PYTHON2)
        _dxt1_python_passes("${PYTHON2}" "${_dxt1_is_python27}" ok)
        if(NOT ok)
            message(FATAL_ERROR "PYTHON2=${PYTHON2} is not a working Python 2.7 interpreter.")
        endif()
        set(${result} "${PYTHON2}" PARENT_SCOPE)
        return()
    endif()
    _dxt1_first_python(found "${_dxt1_is_python27}" NAMES python2.7 python2 PYENV_GLOB "2.7*/bin/python2.7")
    set(${result} "${found}" PARENT_SCOPE)
endfunction()

function(dxt1_find_python3 result)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "REQUIRE" "")
    # 3.6 or later, with Python.h where the interpreter says its headers are.
    set(usable "${arg_REQUIRE}\n")
    string(APPEND usable [[
import os, sys, sysconfig
sys.exit(sys.version_info < (3, 6) or not os.path.exists(os.path.join(sysconfig.get_paths()['include'], 'Python.h')))
]])
    _dxt1_first_python(found "${usable}" NAMES python3 PYENV_GLOB "3.*/bin/python3")
    set(${result} "${found}" PARENT_SCOPE)
endfunction()

# What a machine without any usable interpreter is told.
string(CONCAT DXT1_NO_PYTHON_MESSAGE
    "No working Python 2.7 (tried PYTHON2, python2.7 and python2 on PATH, and ${_dxt1_pyenv_root}/versions/2.7*) "
    "and no python3 with its development headers (tried python3 on PATH and ${_dxt1_pyenv_root}/versions/3.*). "
    "The module is built for Python 2.7, or for Python 3.6 or later, with the interpreter's headers: "
    "install one (on Debian: apt-get install python3-dev), or name it: "
    "PYTHON2=/path/to/python2.7, or -DPYTHON3=/path/to/python3 (make takes PYTHON3=... too).")
