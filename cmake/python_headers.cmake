# The oldest CPython >= 3.9 headers under the given prefixes, for the module to compile against:
# it targets the 3.9 stable ABI, and newer headers declare calls that 3.9 lacks without refusing
# them under Py_LIMITED_API. Free-threaded and debug variants (python3.13t, python3.9d) are not
# ABI-compatible and are passed over.
#   include(cmake/python_headers.cmake)
#   morvek_oldest_python_headers(OUT PREFIX...)   OUT: PREFIX/include/python3.N, or empty
# As a script it prints the choice among this machine's own prefixes (tools/deps.sh asks it):
#   cmake -P cmake/python_headers.cmake
function(morvek_oldest_python_headers out)
    set(patterns "")
    foreach(prefix IN LISTS ARGN)
        list(APPEND patterns "${prefix}/include/python3.*/Python.h")
    endforeach()
    file(GLOB candidates ${patterns})
    set(best_minor 1000)
    set(best_dir "")
    foreach(header IN LISTS candidates)
        if(header MATCHES "/python3\\.([0-9]+)/Python\\.h$")
            set(minor ${CMAKE_MATCH_1})
            if(minor GREATER_EQUAL 9 AND minor LESS best_minor)
                set(best_minor ${minor})
                get_filename_component(best_dir ${header} DIRECTORY)
            endif()
        endif()
    endforeach()
    set(${out} "${best_dir}" PARENT_SCOPE)
endfunction()

# This machine's prefixes: the system's, and each pyenv interpreter's.
function(morvek_machine_python_prefixes out)
    set(prefixes /usr /usr/local)
    foreach(root IN ITEMS "$ENV{PYENV_ROOT}" "$ENV{HOME}/.pyenv" "/root/.pyenv")
        if(root)
            file(GLOB versions LIST_DIRECTORIES true "${root}/versions/*")
            list(APPEND prefixes ${versions})
        endif()
    endforeach()
    set(${out} ${prefixes} PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    morvek_machine_python_prefixes(prefixes)
    morvek_oldest_python_headers(headers ${prefixes})
    message("${headers}")
endif()
