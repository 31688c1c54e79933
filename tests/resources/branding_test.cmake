# The checks and conversions of cmake/branding.cmake, run as a script:
#   cmake -DSOURCE_DIR=<project source folder> -P branding_test.cmake
# A value that must be refused is tried in a cmake process of its own (a FATAL_ERROR ends the
# script), which must then fail with a message naming the variable.
include(${SOURCE_DIR}/cmake/branding.cmake)

if(DEFINED CALL)  # one refused case, run by refused() below
    cmake_language(EVAL CODE "${CALL}")
    return()
endif()

set(scratch ${CMAKE_CURRENT_BINARY_DIR}/branding_test_files)
file(REMOVE_RECURSE ${scratch})
file(MAKE_DIRECTORY ${scratch})

function(expect_equal what actual expected)
    if(NOT "${actual}" STREQUAL "${expected}")
        message(SEND_ERROR "${what}: \"${actual}\", expected \"${expected}\"")
    endif()
endfunction()

# refused(<cmake code> <text the message must hold>)
function(refused code needle)
    execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${SOURCE_DIR} "-DCALL=${code}"
                            -P ${CMAKE_CURRENT_LIST_FILE}
                    RESULT_VARIABLE result ERROR_VARIABLE errors OUTPUT_QUIET)
    string(FIND "${errors}" "${needle}" at)
    if(result EQUAL 0 OR at EQUAL -1)
        message(SEND_ERROR "not refused with \"${needle}\": ${code}\n${errors}")
    endif()
endfunction()

# Versions: canonical numbers, and with commas for the record's fixed part.
foreach(pair "1.0.0.0=1.0.0.0" "01.002.0.65535=1.2.0.65535" "0.0.0.0=0.0.0.0"
             "00000.65535.7.10=0.65535.7.10")
    string(REPLACE "=" ";" pair "${pair}")
    list(GET pair 0 given)
    list(GET pair 1 canonical)
    launcher_check_version(version LAUNCHER_VERSION "${given}")
    expect_equal("version ${given}" "${version}" "${canonical}")
    string(REPLACE "." "," commas "${canonical}")
    expect_equal("version ${given} with commas" "${version_COMMAS}" "${commas}")
endforeach()
foreach(bad "1.0.0" "1.0.0.0.0" "1.0.0.65536" "1.0.0.000070000" "1.0.0.99999999999999999999"
            " 1.0.0.0" "1.0.0.0 " "1.-1.0.0" "1.0.0.x" "" "1..0.0" "1,0,0,0" "0x1.0.0.0")
    refused("launcher_check_version(v LAUNCHER_VERSION \"${bad}\")"
            "LAUNCHER_VERSION must be four numbers from 0 to 65535")
endforeach()

# Texts: quotes doubled and backslashes escaped; a ";" and characters outside ASCII kept.
launcher_rc_text(text LAUNCHER_PRODUCT_NAME "Say \"hi\" to C:\\Tools\\")
expect_equal("quotes and backslashes" "${text}" "Say \"\"hi\"\" to C:\\\\Tools\\\\")
launcher_rc_text(text LAUNCHER_COMPANY "A;B 启动器 @x@ \${y}")
expect_equal("semicolon and other scripts" "${text}" "A;B 启动器 @x@ \${y}")
set(lines "")
launcher_version_string(lines CompanyName LAUNCHER_COMPANY "")
expect_equal("an empty text" "${lines}" "")
launcher_version_string(lines ProductName LAUNCHER_PRODUCT_NAME "a \"b\";c")
expect_equal("a string line" "${lines}" "            VALUE \"ProductName\", \"a \"\"b\"\";c\"\n")
foreach(bad "two\\nlines" "a\\ttab" "carriage\\rreturn")
    refused("launcher_rc_text(t LAUNCHER_DESCRIPTION \"${bad}\")"
            "LAUNCHER_DESCRIPTION must be a single line")
endforeach()

# Icons: an icon directory with at least one image.
launcher_check_icon(LAUNCHER_ICON ${SOURCE_DIR}/resources/launcher.ico)
launcher_check_icon(LAUNCHER_ICON ${SOURCE_DIR}/tests/data/branded.ico)
file(WRITE ${scratch}/empty.ico "")
file(WRITE ${scratch}/text.ico "not an icon at all")
refused("launcher_check_icon(LAUNCHER_ICON ${scratch}/missing.ico)"
        "LAUNCHER_ICON does not name a file")
refused("launcher_check_icon(LAUNCHER_ICON ${scratch})" "LAUNCHER_ICON does not name a file")
foreach(bad ${scratch}/empty.ico ${scratch}/text.ico ${SOURCE_DIR}/tests/data/reader_python.zip)
    refused("launcher_check_icon(LAUNCHER_ICON ${bad})" "LAUNCHER_ICON is not an icon file")
endforeach()

# The settings: the list is read whole; every default passes its own rule; line breaks in a box
# text become escapes, an empty value the string table's zero unit; each refusal names the
# variable. Which values each rule accepts is setting_rules_test.cmake's (the same table as the
# launcher's).
list(LENGTH LAUNCHER_SETTING_KEYS count)
expect_equal("settings in the list" ${count} 13)
expect_equal("default folder" "${LAUNCHER_SETTING_FOLDER_NAME_DEFAULT}" "VORNIX")
expect_equal("default start-failed text" "${LAUNCHER_SETTING_TEXT_START_FAILED_DEFAULT}"
             "启动主程序失败，错误码:(%d)。")
expect_equal("default arguments" "${LAUNCHER_SETTING_ARGUMENTS_DEFAULT}" "\"\"")
expect_equal("a help text with quotes" "${LAUNCHER_SETTING_CAPTION_HELP}"
             "Caption of the boxes \"already running\" and \"unpacking failed\"")
expect_equal("working folder choices" "${LAUNCHER_SETTING_WORKING_FOLDER_CHOICES}"
             "launcher;application")
foreach(key ${LAUNCHER_SETTING_KEYS})
    launcher_check_setting(text ${key} LAUNCHER_${key} "${LAUNCHER_SETTING_${key}_DEFAULT}")
endforeach()
expect_equal("the arguments as the script writes them" "${text}" "off")
launcher_check_setting(text ARGUMENTS LAUNCHER_ARGUMENTS "\"\"")
expect_equal("the default arguments in the script" "${text}" "\"\"\"\"")
launcher_check_setting(text TEXT_RUNNING LAUNCHER_TEXT_RUNNING "One\r\nTwo\t\"C:\\x\"")
expect_equal("a box text over lines" "${text}" "One\\r\\nTwo\\t\"\"C:\\\\x\"\"")
launcher_check_setting(text WINDOW_TITLE LAUNCHER_WINDOW_TITLE "")
expect_equal("an empty title" "${text}" "\\0")
launcher_utf16_units(units "aé说😀")
expect_equal("UTF-16 units" ${units} 5)
function(refused_setting key value needle)
    refused("launcher_check_setting(t ${key} LAUNCHER_${key} \"${value}\")"
            "LAUNCHER_${key} ${needle}")
endfunction()
refused_setting(MAIN_PROGRAM "app.dll" "must end with .exe")
refused_setting(FOLDER_NAME "a:b" "must be a file name without")
refused_setting(FOLDER_NAME "Folder." "must not end with a dot or a blank")
refused_setting(FOLDER_NAME "nul.txt" "names a device")
refused_setting(FOLDER_NAME "" "must not be empty")
refused_setting(FOLDER_NAME "App.Old-12" "must not end with .old- and a number")
string(REPEAT f 169 long)
refused_setting(FOLDER_NAME "${long}" "is longer than 168 units: it has 169")
refused_setting(WINDOW_TITLE "two\\nlines" "must be a single line")
string(ASCII 7 bell)
refused_setting(TEXT_UNPACK_FAILED "bell${bell}" "must not hold control characters other than")
refused_setting(TEXT_START_FAILED "%d and %d" "must hold exactly one %d")
refused_setting(WORKING_FOLDER "here" "must be launcher or application")
refused("launcher_check_settings_together(\"\" \"\" \"LAUNCHER_WINDOW_CLASS and LAUNCHER_WINDOW_TITLE\")"
        "LAUNCHER_WINDOW_CLASS and LAUNCHER_WINDOW_TITLE are both empty")
launcher_check_settings_together("" "Title" "")
launcher_check_execution_level(LAUNCHER_EXECUTION_LEVEL asInvoker)
refused("launcher_check_execution_level(LAUNCHER_EXECUTION_LEVEL requireadministrator)"
        "LAUNCHER_EXECUTION_LEVEL must be one of requireAdministrator")
