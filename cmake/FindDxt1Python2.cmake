# Finds a working Python 2.7 interpreter and sets Python2_EXECUTABLE.
# Looks, in order, at an explicit setting (the PYTHON2 cache variable or
# environment variable), then python2.7 and python2 on PATH, then pyenv's
# versions/2.7*. Each candidate is run, since pyenv puts shims on PATH that
# exist but fail.

function(_dxt1_is_python27 candidate result)
    execute_process(
        COMMAND "${candidate}" -c "import sys; sys.exit(sys.version_info[:2] != (2, 7))"
        RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
    if(rc EQUAL 0)
        set(${result} TRUE PARENT_SCOPE)
    else()
        set(${result} FALSE PARENT_SCOPE)
    endif()
endfunction()

set(PYTHON2 "$ENV{PYTHON2}" CACHE FILEPATH "Python 2.7 interpreter to build the module for")

if(PYTHON2)
    _dxt1_is_python27("${PYTHON2}" ok)
    if(NOT ok)
        message(FATAL_ERROR "PYTHON2=${PYTHON2} is not a working Python 2.7 interpreter.")
    endif()
    set(found "${PYTHON2}")
else()
    set(candidates)
    string(REPLACE ":" ";" path_dirs "$ENV{PATH}")
    foreach(name python2.7 python2)
        foreach(dir IN LISTS path_dirs)
            if(dir AND EXISTS "${dir}/${name}")
                list(APPEND candidates "${dir}/${name}")
            endif()
        endforeach()
    endforeach()
    set(pyenv_root "$ENV{PYENV_ROOT}")
    if(NOT pyenv_root)
        set(pyenv_root "$ENV{HOME}/.pyenv")
    endif()
    file(GLOB pyenv_pythons "${pyenv_root}/versions/2.7*/bin/python2.7")
    list(SORT pyenv_pythons COMPARE NATURAL ORDER DESCENDING)
    list(APPEND candidates ${pyenv_pythons})

    set(found "")
    foreach(candidate IN LISTS candidates)
        _dxt1_is_python27("${candidate}" ok)
        if(ok)
            set(found "${candidate}")
            break()
        endif()
    endforeach()
    if(NOT found)
        message(FATAL_ERROR
            "No working Python 2.7 interpreter was found (tried PYTHON2, python2.7 and python2 on PATH, and "
            "${pyenv_root}/versions/2.7*). The module is built for Python 2.7 with its development headers: "
            "set PYTHON2=/path/to/python2.7.\n"
            "With Python 3 alone (3.6 or later, with its headers), name it in PYTHON3 and leave Python 2.7 out:\n"
            "  make demo CONFIGURE_FLAGS=-DDXT1_PYTHON=OFF PYTHON3=/path/to/python3\n"
            "  make test CONFIGURE_FLAGS=-DDXT1_PYTHON=OFF PYTHON3=/path/to/python3\n"
            "or, calling CMake yourself: cmake -S . -B build -DDXT1_PYTHON=OFF -DPYTHON3=/path/to/python3")
    endif()
endif()

set(Python2_EXECUTABLE "${found}" CACHE FILEPATH "" FORCE)


