# Reads the package's one definition, packaging/dxt1-package.json, which
# setup.py and the build backend read too.
get_filename_component(DXT1_PACKAGE_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
file(READ ${DXT1_PACKAGE_ROOT}/packaging/dxt1-package.json DXT1_PACKAGE)

# dxt1_package_list(VAR [RAW] KEY...): the JSON list at KEY as a CMake list,
# of paths in the source tree unless RAW.
function(dxt1_package_list var)
    cmake_parse_arguments(PARSE_ARGV 1 arg "RAW" "" "")
    string(JSON count LENGTH "${DXT1_PACKAGE}" ${arg_UNPARSED_ARGUMENTS})
    set(items)
    math(EXPR last "${count} - 1")
    foreach(i RANGE ${last})
        string(JSON item GET "${DXT1_PACKAGE}" ${arg_UNPARSED_ARGUMENTS} ${i})
        if(NOT arg_RAW)
            set(item ${DXT1_PACKAGE_ROOT}/${item})
        endif()
        list(APPEND items ${item})
    endforeach()
    set(${var} ${items} PARENT_SCOPE)
endfunction()

# dxt1_package_path(VAR KEY...): the path in the source tree at KEY.
function(dxt1_package_path var)
    string(JSON item GET "${DXT1_PACKAGE}" ${ARGN})
    set(${var} ${DXT1_PACKAGE_ROOT}/${item} PARENT_SCOPE)
endfunction()

string(JSON DXT1_VERSION GET "${DXT1_PACKAGE}" version)
