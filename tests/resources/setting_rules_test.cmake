# The launcher's rules and the build's against one table of setting values:
#   cmake -DSOURCE_DIR=<project source folder> -DVERDICTS=<setting_verdicts program>
#         -P setting_rules_test.cmake
# Each row of setting_values.txt is checked by launcher_check_setting (cmake/branding.cmake) in a
# cmake process of its own (a refusal ends it) and by the launcher's CheckSetting (through
# VERDICTS); both must give the row's verdict.
include(${SOURCE_DIR}/cmake/branding.cmake)

set(table ${CMAKE_CURRENT_LIST_DIR}/setting_values.txt)
file(STRINGS ${table} rows ENCODING UTF-8 REGEX "^[A-Z]")

# The row's key, verdict and value, its escapes undone.
function(read_row out row)
    if(NOT row MATCHES "^([A-Z_]+)\t(accept|refuse)\t(.*)$")
        message(FATAL_ERROR "not a row of the table: ${row}")
    endif()
    set(key ${CMAKE_MATCH_1})
    set(verdict ${CMAKE_MATCH_2})
    set(value "${CMAKE_MATCH_3}")
    string(ASCII 1 backslash)
    string(ASCII 7 bell)
    string(ASCII 9 tab)
    string(ASCII 10 newline)
    string(ASCII 13 return)
    string(REPLACE "\\\\" "${backslash}" value "${value}")
    string(REPLACE "\\n" "${newline}" value "${value}")
    string(REPLACE "\\r" "${return}" value "${value}")
    string(REPLACE "\\t" "${tab}" value "${value}")
    string(REPLACE "\\a" "${bell}" value "${value}")
    string(REPLACE "${backslash}" "\\" value "${value}")
    while(value MATCHES "{([0-9]+)\\*([^}]+)}")
        string(REPEAT "${CMAKE_MATCH_2}" ${CMAKE_MATCH_1} repeated)
        string(REPLACE "${CMAKE_MATCH_0}" "${repeated}" value "${value}")
    endwhile()
    set(${out}_KEY ${key} PARENT_SCOPE)
    set(${out}_VERDICT ${verdict} PARENT_SCOPE)
    set(${out}_VALUE "${value}" PARENT_SCOPE)
endfunction()

if(DEFINED ROW)  # one row, run by the loop below
    list(GET rows ${ROW} row)
    read_row(it "${row}")
    launcher_check_setting(escaped ${it_KEY} LAUNCHER_${it_KEY} "${it_VALUE}")
    return()
endif()

execute_process(COMMAND ${VERDICTS} ${table} OUTPUT_VARIABLE launcher RESULT_VARIABLE failed)
string(REGEX MATCHALL "[a-z]+" launcher "${launcher}")
list(LENGTH rows count)
list(LENGTH launcher answered)
if(failed OR NOT answered EQUAL count)
    message(FATAL_ERROR "${VERDICTS} gave ${answered} verdicts for ${count} rows (status ${failed})")
endif()
math(EXPR last "${count} - 1")
foreach(index RANGE ${last})
    list(GET rows ${index} row)
    read_row(it "${row}")
    execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${SOURCE_DIR} -DROW=${index}
                            -P ${CMAKE_CURRENT_LIST_FILE}
                    RESULT_VARIABLE refused OUTPUT_QUIET ERROR_VARIABLE message)
    set(build accept)
    if(refused)
        set(build refuse)
    endif()
    list(GET launcher ${index} own)
    if(NOT build STREQUAL it_VERDICT OR NOT own STREQUAL it_VERDICT)
        message(SEND_ERROR "${row}: the build says ${build}, the launcher ${own}, the table ${it_VERDICT}\n${message}")
    endif()
endforeach()
