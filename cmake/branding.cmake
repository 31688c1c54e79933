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

# launcher_setting_keys(<out>): the names and texts of the launcher's string table, by the key
# that follows LAUNCHER_DEFAULT_ in resources/launcher_contract.h and LAUNCHER_ in the cache.
function(launcher_setting_keys out)
    set(${out} MAIN_PROGRAM FOLDER_NAME WINDOW_CLASS WINDOW_TITLE CAPTION ERROR_CAPTION
        TEXT_RUNNING TEXT_UNPACK_FAILED TEXT_START_FAILED PARENT_SCOPE)
endfunction()

# launcher_read_setting_defaults(<header>): sets LAUNCHER_DEFAULT_<key> to each value that the
# header defines, so that the defaults are stated there alone.
function(launcher_read_setting_defaults header)
    launcher_setting_keys(keys)
    foreach(key ${keys})
        file(STRINGS "${header}" line ENCODING UTF-8
             REGEX "^#define LAUNCHER_DEFAULT_${key} \"[^\"\\]*\"")
        if(NOT line MATCHES "^#define LAUNCHER_DEFAULT_${key} \"([^\"\\]*)\"")
            message(FATAL_ERROR "${header} defines no plain LAUNCHER_DEFAULT_${key}")
        endif()
        set(LAUNCHER_DEFAULT_${key} "${CMAKE_MATCH_1}" PARENT_SCOPE)
    endforeach()
endfunction()

# launcher_check_setting(<out> <key> <variable name> <value>): <out> receives the value as the
# inside of a string of the resource script. The value is refused when the launcher would refuse
# it too and fall back to its default: empty; control characters (line breaks and tabs allowed in
# the three box texts); a name that is no single file name Windows keeps as it is; a folder name
# of the form of a folder moved aside; a main program not ending in .exe; a start-failed text
# without exactly one %d, or with another %.
function(launcher_check_setting out key name value)
    if(value STREQUAL "")
        message(FATAL_ERROR "${name} must not be empty")
    endif()
    if(key MATCHES "^(MAIN_PROGRAM|FOLDER_NAME)$")
        if(value MATCHES "[/\\:*?\"<>|]")
            message(FATAL_ERROR "${name} must be a file name without / \\ : * ? \" < > |: \"${value}\"")
        endif()
        if(value MATCHES "[. ]$")
            message(FATAL_ERROR "${name} must not end with a dot or a blank: \"${value}\"")
        endif()
        string(TOUPPER "${value}" upper)
        string(REGEX REPLACE "\\..*$" "" base "${upper}")
        if(base MATCHES "^(CON|PRN|AUX|NUL|CONIN\\$|CONOUT\\$|COM[1-9]|LPT[1-9]) *$")
            message(FATAL_ERROR "${name} names a device of Windows: \"${value}\"")
        endif()
        # Such a folder would be removed as one moved aside by the launcher of the shorter name.
        if(key STREQUAL "FOLDER_NAME" AND upper MATCHES "\\.OLD-[0-9]+$")
            message(FATAL_ERROR "${name} must not end with .old- and a number, as a folder moved aside does: \"${value}\"")
        endif()
    endif()
    if(key STREQUAL "MAIN_PROGRAM" AND NOT upper MATCHES ".\\.EXE$")
        message(FATAL_ERROR "${name} must end with .exe: \"${value}\"")
    endif()
    if(key STREQUAL "TEXT_START_FAILED")
        string(REPLACE "%d" "" rest "${value}")
        string(LENGTH "${value}" length)
        string(LENGTH "${rest}" restLength)
        math(EXPR directives "(${length} - ${restLength}) / 2")
        if(NOT directives EQUAL 1 OR rest MATCHES "%")
            message(FATAL_ERROR "${name} must hold exactly one %d, where the error code goes, and no other %: \"${value}\"")
        endif()
    endif()
    if(key MATCHES "^TEXT_")
        launcher_rc_text(escaped "${name}" "${value}" MULTILINE)
    else()
        launcher_rc_text(escaped "${name}" "${value}")
    endif()
    set(${out} "${escaped}" PARENT_SCOPE)
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
