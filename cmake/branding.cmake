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

# launcher_rc_text(<out> <variable name> <text> [MULTILINE]): the text as the inside of a string
# of the resource script, which reads backslash escapes and a doubled quote as one. Control
# characters are refused: a version record's texts are single lines. With MULTILINE, line breaks
# and tabs are allowed and written as the escapes \r, \n and \t.
function(launcher_rc_text out name text)
    string(ASCII 1 first)
    string(ASCII 8 backspace)
    string(ASCII 9 tab)
    string(ASCII 10 newline)
    string(ASCII 11 vertical)
    string(ASCII 12 feed)
    string(ASCII 13 return)
    string(ASCII 14 shift)
    string(ASCII 31 last)
    string(ASCII 127 delete)
    if(NOT "${ARGN}" STREQUAL "MULTILINE")
        if(text MATCHES "[${first}-${last}${delete}]")
            message(FATAL_ERROR "${name} must be a single line without control characters")
        endif()
    elseif(text MATCHES "[${first}-${backspace}${vertical}${feed}${shift}-${last}${delete}]")
        message(FATAL_ERROR
            "${name} must not hold control characters other than line breaks and tabs")
    endif()
    string(REPLACE "\\" "\\\\" text "${text}")
    string(REPLACE "\"" "\"\"" text "${text}")
    string(REPLACE "${return}" "\\r" text "${text}")
    string(REPLACE "${newline}" "\\n" text "${text}")
    string(REPLACE "${tab}" "\\t" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The launcher's settings, one row each in resources/launcher_settings.inc (whose comment says
# what the columns and rules are): read once, here, into LAUNCHER_SETTING_KEYS and for each key
# LAUNCHER_SETTING_<key>_ID, _OPTION, _RULE, _LIMIT, _CHOICES, _DEFAULT and _HELP.
set(LAUNCHER_SETTINGS_LIST ${CMAKE_CURRENT_LIST_DIR}/../resources/launcher_settings.inc)
set(LAUNCHER_EXECUTION_LEVELS requireAdministrator highestAvailable asInvoker)

# launcher_unescape(<out> <text>): a text of the list with its \" and \\ undone.
function(launcher_unescape out text)
    string(ASCII 1 backslash)
    string(REPLACE "\\\\" "${backslash}" text "${text}")
    string(REPLACE "\\\"" "\"" text "${text}")
    string(REPLACE "${backslash}" "\\" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

macro(launcher_read_settings)
    file(STRINGS "${LAUNCHER_SETTINGS_LIST}" _rows ENCODING UTF-8 REGEX "^LAUNCHER_SETTING\\(")
    set(LAUNCHER_SETTING_KEYS "")
    foreach(_row IN LISTS _rows)
        if(NOT _row MATCHES "^LAUNCHER_SETTING\\(([0-9]+), ([A-Z_]+), ([A-Za-z]+), \"([^\"]*)\", ([A-Za-z]+), ([0-9]+), \"([^\"]*)\", (.*)\\)$")
            message(FATAL_ERROR "${LAUNCHER_SETTINGS_LIST}: a row not in the list's form: ${_row}")
        endif()
        set(_key ${CMAKE_MATCH_2})
        list(APPEND LAUNCHER_SETTING_KEYS ${_key})
        set(LAUNCHER_SETTING_${_key}_ID ${CMAKE_MATCH_1})
        set(LAUNCHER_SETTING_${_key}_OPTION "${CMAKE_MATCH_4}")
        set(LAUNCHER_SETTING_${_key}_RULE ${CMAKE_MATCH_5})
        set(LAUNCHER_SETTING_${_key}_LIMIT ${CMAKE_MATCH_6})
        string(REPLACE "|" ";" LAUNCHER_SETTING_${_key}_CHOICES "${CMAKE_MATCH_7}")
        set(_texts "${CMAKE_MATCH_8}")
        if(NOT _texts MATCHES "^\"((\\\\.|[^\"\\\\])*)\", \"((\\\\.|[^\"\\\\])*)\"$")
            message(FATAL_ERROR "${LAUNCHER_SETTINGS_LIST}: a row not in the list's form: ${_row}")
        endif()
        set(_help "${CMAKE_MATCH_3}")
        launcher_unescape(LAUNCHER_SETTING_${_key}_DEFAULT "${CMAKE_MATCH_1}")
        launcher_unescape(LAUNCHER_SETTING_${_key}_HELP "${_help}")
    endforeach()
endmacro()
launcher_read_settings()

# launcher_utf16_units(<out> <text>): how many UTF-16 units the UTF-8 text takes, as the launcher
# counts its settings: one per character, two beyond U+FFFF.
function(launcher_utf16_units out text)
    string(HEX "${text}" hex)
    string(REGEX MATCHALL "[0-9a-f][0-9a-f]" bytes "${hex}")
    set(continued ${bytes})
    list(FILTER continued INCLUDE REGEX "^[89ab]")  # the bytes after a character's first
    set(long ${bytes})
    list(FILTER long INCLUDE REGEX "^f")  # the first bytes of characters beyond U+FFFF
    list(LENGTH bytes all)
    list(LENGTH continued inner)
    list(LENGTH long pairs)
    math(EXPR units "${all} - ${inner} + ${pairs}")
    set(${out} ${units} PARENT_SCOPE)
endfunction()

# launcher_check_name(<variable name> <value>): one name inside a folder, as Windows keeps it.
function(launcher_check_name name value)
    if(value MATCHES "[/\\:*?\"<>|]")
        message(FATAL_ERROR "${name} must be a file name without / \\ : * ? \" < > |: \"${value}\"")
    endif()
    if(value MATCHES "[. ]$")
        message(FATAL_ERROR "${name} must not end with a dot or a blank: \"${value}\"")
    endif()
    # Windows takes the name before its first dot, without trailing blanks, for the device.
    string(TOUPPER "${value}" upper)
    string(REGEX REPLACE "\\..*$" "" base "${upper}")
    string(REGEX REPLACE " +$" "" base "${base}")
    if(base MATCHES "^(CON|PRN|AUX|NUL|CONIN\\$|CONOUT\\$)$" OR
       base MATCHES "^(COM|LPT)([0-9]|¹|²|³)$")
        message(FATAL_ERROR "${name} names a device of Windows: \"${value}\"")
    endif()
endfunction()

# launcher_check_setting(<out> <key> <variable name> <value>): <out> receives the value as the
# string table stores it (an empty one as one zero unit), as the inside of a string of the
# resource script. The value is refused, with a message that names the variable, by the rule of
# its row of the list, as the launcher would refuse it and fall back to its default.
function(launcher_check_setting out key name value)
    set(rule ${LAUNCHER_SETTING_${key}_RULE})
    set(limit ${LAUNCHER_SETTING_${key}_LIMIT})
    if(rule MATCHES "^(Choice|Switch)$")
        list(FIND LAUNCHER_SETTING_${key}_CHOICES "${value}" found)
        if(found EQUAL -1)
            list(JOIN LAUNCHER_SETTING_${key}_CHOICES " or " words)
            message(FATAL_ERROR "${name} must be ${words}: \"${value}\"")
        endif()
    elseif(value STREQUAL "")
        if(NOT rule STREQUAL "LineOrEmpty")
            message(FATAL_ERROR "${name} must not be empty")
        endif()
        set(${out} "\\0" PARENT_SCOPE)
        return()
    endif()
    launcher_utf16_units(units "${value}")
    if(limit GREATER 0 AND units GREATER limit)
        message(FATAL_ERROR "${name} is longer than ${limit} units: it has ${units}")
    endif()
    if(rule MATCHES "^(ProgramName|FolderName)$")
        launcher_check_name(${name} "${value}")
    endif()
    string(TOUPPER "${value}" upper)
    if(rule STREQUAL "ProgramName" AND NOT upper MATCHES ".\\.EXE$")
        message(FATAL_ERROR "${name} must end with .exe: \"${value}\"")
    endif()
    # Such a folder would be removed as one moved aside by the launcher of the shorter name.
    if(rule STREQUAL "FolderName" AND upper MATCHES "\\.OLD-[0-9]+$")
        message(FATAL_ERROR "${name} must not end with .old- and a number, as a folder moved aside does: \"${value}\"")
    endif()
    if(rule STREQUAL "CodeText")
        string(REPLACE "%d" "" rest "${value}")
        string(LENGTH "${value}" length)
        string(LENGTH "${rest}" restLength)
        math(EXPR directives "(${length} - ${restLength}) / 2")
        if(NOT directives EQUAL 1 OR rest MATCHES "%")
            message(FATAL_ERROR "${name} must hold exactly one %d, where the error code goes, and no other %: \"${value}\"")
        endif()
    endif()
    if(rule MATCHES "Text$")
        launcher_rc_text(escaped "${name}" "${value}" MULTILINE)
    else()
        launcher_rc_text(escaped "${name}" "${value}")
    endif()
    set(${out} "${escaped}" PARENT_SCOPE)
endfunction()

# launcher_check_settings_together(<window class> <window title> <names>): the rules between
# settings that each passed its own: the running copy's window needs its class or its title.
function(launcher_check_settings_together windowClass windowTitle names)
    if(windowClass STREQUAL "" AND windowTitle STREQUAL "")
        message(FATAL_ERROR "${names} are both empty: one of them must name the running copy's window")
    endif()
endfunction()

# launcher_check_execution_level(<variable name> <level>)
function(launcher_check_execution_level name level)
    list(FIND LAUNCHER_EXECUTION_LEVELS "${level}" found)
    if(found EQUAL -1)
        list(JOIN LAUNCHER_EXECUTION_LEVELS ", " levels)
        message(FATAL_ERROR "${name} must be one of ${levels}: \"${level}\"")
    endif()
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
