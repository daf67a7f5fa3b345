# dxt1_python_module(PYTHON): builds _dxt1 for the interpreter PYTHON into
# ${CMAKE_BINARY_DIR}/python<X.Y>/, and registers its tests. Sets
# DXT1_MODULE_DIRS (a list of interpreter=folder) in the caller's scope.

function(dxt1_python_module python)
    execute_process(
        COMMAND "${python}" -c "import sys, sysconfig; sys.stdout.write(';'.join(['%d.%d' % sys.version_info[:2], sysconfig.get_paths()['include'], sysconfig.get_config_var('EXT_SUFFIX') or sysconfig.get_config_var('SO')]))"
        RESULT_VARIABLE rc OUTPUT_VARIABLE facts ERROR_VARIABLE error)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${python} does not run as a Python interpreter: ${error}")
    endif()
    list(GET facts 0 version)
    list(GET facts 1 include_dir)
    list(GET facts 2 suffix)
    if(NOT EXISTS "${include_dir}/Python.h")
        message(FATAL_ERROR "${python} (Python ${version}) has no development headers (${include_dir}/Python.h); install them or choose another interpreter.")
    endif()
    string(SUBSTRING "${version}" 0 1 major)

    set(target dxt1-module-python${version})
    set(module_dir ${CMAKE_BINARY_DIR}/python${version})
    add_library(${target} MODULE ${CMAKE_CURRENT_SOURCE_DIR}/lib/dxt1-module.cpp)
    target_include_directories(${target} SYSTEM PRIVATE ${include_dir})
    target_link_libraries(${target} PRIVATE dxt1-decoder)
    target_compile_options(${target} PRIVATE ${DXT1_WARNINGS})
    target_link_options(${target} PRIVATE
        -Wl,--version-script=${CMAKE_CURRENT_SOURCE_DIR}/lib/exports-python${major}.map)
    set_target_properties(${target} PROPERTIES
        OUTPUT_NAME _dxt1 PREFIX "" SUFFIX "${suffix}"
        CXX_VISIBILITY_PRESET hidden
        LIBRARY_OUTPUT_DIRECTORY ${module_dir})
    message(STATUS "Building _dxt1 for Python ${version} (${python})")

    set(DXT1_MODULE_TARGETS ${DXT1_MODULE_TARGETS} ${target} PARENT_SCOPE)
    set(DXT1_MODULE_DIRS ${DXT1_MODULE_DIRS} "${python}=${module_dir}" PARENT_SCOPE)

    if(NOT DXT1_TESTS)
        return()
    endif()
    if(NOT TARGET malloc-failure)
        # Preloaded by the allocation-failure tests of every interpreter.
        add_library(malloc-failure SHARED ${CMAKE_CURRENT_SOURCE_DIR}/tests/python/malloc-failure.cpp)
        target_compile_options(malloc-failure PRIVATE ${DXT1_WARNINGS})
        set_target_properties(malloc-failure PROPERTIES CXX_VISIBILITY_PRESET hidden)
        find_program(VALGRIND valgrind)
        if(NOT VALGRIND)
            message(WARNING "valgrind not found: the module's memcheck run is left out")
        endif()
    endif()
    set(tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/python)
    set(run ${CMAKE_COMMAND} -E env PYTHONPATH=${module_dir} PYTHONDONTWRITEBYTECODE=1)
    add_test(NAME python${version}.module COMMAND ${run} ${python} ${tests}/test_module.py)
    add_test(NAME python${version}.allocation-failures
        COMMAND ${run} LD_PRELOAD=$<TARGET_FILE:malloc-failure> DXT1_REQUIRE_INTERPOSER=1
                ${python} ${tests}/test_allocation_failures.py)
    add_test(NAME python${version}.dds2png COMMAND ${run} ${python} ${tests}/test_dds2png.py)
    add_test(NAME python${version}.build-backend COMMAND ${run} ${python} ${tests}/test_build_backend.py)
    if(VALGRIND AND major EQUAL 2)
        # Python 3 interpreters report leaks of their own at exit, so only 2.7 runs here.
        add_test(NAME python${version}.module-valgrind
            COMMAND ${run} DXT1_QUICK=1
                    ${VALGRIND} -q --error-exitcode=1 --leak-check=full
                    --errors-for-leak-kinds=definite --show-leak-kinds=definite
                    --suppressions=${tests}/valgrind-python.supp
                    ${python} ${tests}/test_module.py)
    endif()
endfunction()
