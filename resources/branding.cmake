# Checks and conversions for the branding of a launcher executable: its icon and the numbers and
# texts of its version record. A wrong value stops the configuration with a message that names
# the variable, instead of a resource compiler error later or a silently wrong record.

# launcher_check_version(<out> <variable name> <value>): <out> receives the version in its
# canonical form (leading zeros dropped) and <out>_COMMAS the same with commas, as the version
# record's numbers take it.
function(launcher_check_version out name value)
    set(message "${name} must be four numbers from 0 to 65535 with dots between them, such as 1.2.0.0; it is \"${value}\"")
    if(NOT value MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
        message(FATAL_ERROR "${message}")
    endif()
    set(parts "${CMAKE_MATCH_1}" "${CMAKE_MATCH_2}" "${CMAKE_MATCH_3}" "${CMAKE_MATCH_4}")
    set(numbers "")
    foreach(part ${parts})
        string(REGEX REPLACE "^0+" "" number "${part}")
        if(number STREQUAL "")
            set(number 0)
        endif()
        string(LENGTH "${number}" digits)
        if(digits GREATER 5 OR number GREATER 65535)
            message(FATAL_ERROR "${message}")
        endif()
        list(APPEND numbers ${number})
    endforeach()
    list(JOIN numbers "." canonical)
    list(JOIN numbers "," commas)
    set(${out} "${canonical}" PARENT_SCOPE)
    set(${out}_COMMAS "${commas}" PARENT_SCOPE)
endfunction()

# launcher_check_icon(<variable name> <path>): the path must name an icon file (.ico): an icon
# directory header with at least one image.
function(launcher_check_icon name path)
    if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
        message(FATAL_ERROR "${name} does not name a file: \"${path}\"")
    endif()
    file(READ "${path}" header LIMIT 6 HEX)
    if(NOT header MATCHES "^00000100" OR header STREQUAL "000001000000")
        message(FATAL_ERROR "${name} is not an icon file (.ico): \"${path}\"")
    endif()
endfunction()

# launcher_rc_text(<out> <variable name> <text>): the text as the inside of a string of the
# resource script, which reads backslash escapes and a doubled quote as one. Control characters
# (line breaks, tabs) are refused: a version record's texts are single lines.
function(launcher_rc_text out name text)
    string(ASCII 1 first)
    string(ASCII 31 last)
    string(ASCII 127 delete)
    if(text MATCHES "[${first}-${last}${delete}]")
        message(FATAL_ERROR "${name} must be a single line without control characters")
    endif()
    string(REPLACE "\\" "\\\\" text "${text}")
    string(REPLACE "\"" "\"\"" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

# launcher_version_string(<lines> <key> <variable name> <text>): appends the VALUE line of one
# string of the version record to the variable <lines>; an empty text adds nothing. Texts travel
# as single quoted arguments, so that a ";" in them stays a character.
# The parameters carry a prefix: <lines> is read through its name, which must not be one of them.
function(launcher_version_string _lines _key _name _text)
    if(NOT _text STREQUAL "")
        launcher_rc_text(escaped "${_name}" "${_text}")
        set(${_lines} "${${_lines}}            VALUE \"${_key}\", \"${escaped}\"\n" PARENT_SCOPE)
    endif()
endfunction()
