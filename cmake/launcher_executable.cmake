# add_launcher_executable(): the one way a launcher executable is made, for the product and for
# every launcher that benchmarks and tests build around payloads of their own. Included by the
# top CMakeLists before any folder, so callers may sit anywhere.
include(${CMAKE_CURRENT_LIST_DIR}/branding.cmake)

# The demo application's payload, made in demo/: the Windows launcher's default payload.
set(LAUNCHER_DEMO_PAYLOAD ${CMAKE_BINARY_DIR}/demo/payload.zip)

if(WIN32)
    # The product's payload, chosen at configure time:
    #   LAUNCHER_PAYLOAD      a zip file (default: the demo application's payload)
    #   LAUNCHER_PAYLOAD_DIR  a folder that the build zips instead (wins over LAUNCHER_PAYLOAD)
    set(LAUNCHER_PAYLOAD ${LAUNCHER_DEMO_PAYLOAD} CACHE FILEPATH
        "Zip archive embedded in launcher.exe as its payload")
    set(LAUNCHER_PAYLOAD_DIR "" CACHE PATH
        "Folder zipped into the launcher's payload at build time (overrides LAUNCHER_PAYLOAD)")

    # The defaults of every launcher's branding, kept across reconfigures like every cache entry:
    # its icon, the version record's numbers and texts (an empty one is left out of the record),
    # and the names and texts of its string table (defaults in resources/launcher_contract.h).
    set(LAUNCHER_ICON ${PROJECT_SOURCE_DIR}/resources/launcher.ico CACHE FILEPATH
        "Icon file (.ico) of launcher.exe")
    set(LAUNCHER_VERSION 1.0.0.0 CACHE STRING
        "Version of launcher.exe: four numbers from 0 to 65535, such as 1.2.0.0")
    set(LAUNCHER_PRODUCT_NAME "Kelmora" CACHE STRING "Product name in the version record")
    set(LAUNCHER_DESCRIPTION "Kelmora launcher" CACHE STRING
        "File description in the version record")
    set(LAUNCHER_COMPANY "" CACHE STRING
        "Company name in the version record (left out when empty)")
    set(LAUNCHER_COPYRIGHT "" CACHE STRING "Copyright in the version record (left out when empty)")

    # The execution level that the manifest asks for, and each setting of the string table
    # (resources/launcher_settings.inc: the rules, defaults and help texts).
    list(GET LAUNCHER_EXECUTION_LEVELS 0 level)
    set(LAUNCHER_EXECUTION_LEVEL ${level} CACHE STRING
        "Execution level that the manifest of launcher.exe asks for: requireAdministrator, highestAvailable or asInvoker")
    foreach(key ${LAUNCHER_SETTING_KEYS})
        set(LAUNCHER_${key} "${LAUNCHER_SETTING_${key}_DEFAULT}" CACHE STRING
            "${LAUNCHER_SETTING_${key}_HELP}")
    endforeach()
endif()

# add_launcher_executable(<name> [PAYLOAD <zip>] [MAIN <source>] [DEPENDS <targets>...]
#                         [EXCLUDE_FROM_ALL]
#                         [ICON <ico>] [VERSION <a.b.c.d>] [PRODUCT_NAME <text>]
#                         [DESCRIPTION <text>] [COMPANY <text>] [COPYRIGHT <text>]
#                         [EXECUTION_LEVEL <level>] [<KEY> <value>]...)
# The launcher's sources around <zip>, which <targets> make. On Windows the payload (required)
# goes into the resources together with the manifest, the branding and the string table given
# (default: the LAUNCHER_* entries above; each KEY of resources/launcher_settings.inc, such as
# MAIN_PROGRAM or WORKING_FOLDER, sets that setting); POSIX has no resources, so there the
# archive's bytes are assembled into the executable, and a launcher without PAYLOAD carries
# none. MAIN replaces the entry point (launcher/main.cpp) by another, a benchmark's say. The
# executable relinks when the payload, manifest or icon change; its LAUNCHER_PAYLOAD property
# names the zip.
function(add_launcher_executable name)
    set(settings ${LAUNCHER_SETTING_KEYS})
    set(branding ICON VERSION PRODUCT_NAME DESCRIPTION COMPANY COPYRIGHT EXECUTION_LEVEL
        ${settings})
    cmake_parse_arguments(PARSE_ARGV 1 arg "EXCLUDE_FROM_ALL" "PAYLOAD;MAIN;${branding}" "DEPENDS")
    set(exclude "")
    if(arg_EXCLUDE_FROM_ALL)
        set(exclude EXCLUDE_FROM_ALL)
    endif()
    if(NOT arg_MAIN)
        set(arg_MAIN ${PROJECT_SOURCE_DIR}/launcher/main.cpp)
    endif()
    add_executable(${name} ${exclude} ${arg_MAIN})
    target_link_libraries(${name} PRIVATE launcher_core)
    set_target_properties(${name} PROPERTIES LAUNCHER_PAYLOAD "${arg_PAYLOAD}")
    if(arg_DEPENDS)
        add_dependencies(${name} ${arg_DEPENDS})
    endif()
    if(WIN32)
        if(NOT arg_PAYLOAD)
            message(FATAL_ERROR "add_launcher_executable(${name}): a Windows launcher needs a PAYLOAD")
        endif()
        # A GUI program entered through wWinMain.
        target_compile_options(${name} PRIVATE -municode)
        # Builds without debug information ship without the static libraries' debug sections.
        # Large-address aware: on 64-bit Windows the launcher may use all 4 GiB, so that the heap
        # and zlib's buffers find room above 2 GiB when a big payload fills the image's part
        # below it. Nothing in the launcher keeps an address or an offset in a signed 32-bit
        # number.
        target_link_options(${name} PRIVATE -mwindows -municode -Wl,--large-address-aware
                            $<$<CONFIG:Release,MinSizeRel>:-s>)
        # Each value is checked at configure time, under the name it was given by.
        foreach(key ${branding})
            set(name_${key} "${key} of ${name}")
            if(NOT DEFINED arg_${key})
                set(arg_${key} "${LAUNCHER_${key}}")
                set(name_${key} LAUNCHER_${key})
            endif()
        endforeach()
        launcher_check_icon("${name_ICON}" "${arg_ICON}")
        launcher_check_version(version "${name_VERSION}" "${arg_VERSION}")
        launcher_check_execution_level("${name_EXECUTION_LEVEL}" "${arg_EXECUTION_LEVEL}")

        # The built manifest, with the level asked for in place of its own.
        set(resources ${PROJECT_SOURCE_DIR}/resources)
        file(READ ${resources}/launcher.manifest manifest)
        list(GET LAUNCHER_EXECUTION_LEVELS 0 builtLevel)
        string(REPLACE "level=\"${builtLevel}\"" "level=\"${arg_EXECUTION_LEVEL}\"" manifest
               "${manifest}")
        set(LAUNCHER_RC_MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/${name}.manifest)
        file(CONFIGURE OUTPUT ${LAUNCHER_RC_MANIFEST} CONTENT "${manifest}" @ONLY)
        set(LAUNCHER_RC_ICON ${arg_ICON})
        set(LAUNCHER_RC_PAYLOAD ${arg_PAYLOAD})
        set(LAUNCHER_RC_VERSION_COMMAS ${version_COMMAS})
        # The string table in the order of its keys, as resource compilers write it.
        set(strings "")
        launcher_version_string(strings CompanyName "${name_COMPANY}" "${arg_COMPANY}")
        launcher_version_string(strings FileDescription "${name_DESCRIPTION}" "${arg_DESCRIPTION}")
        launcher_version_string(strings FileVersion "${name_VERSION}" "${version}")
        launcher_version_string(strings InternalName InternalName "launcher")
        launcher_version_string(strings LegalCopyright "${name_COPYRIGHT}" "${arg_COPYRIGHT}")
        launcher_version_string(strings OriginalFilename OriginalFilename "launcher.exe")
        launcher_version_string(strings ProductName "${name_PRODUCT_NAME}" "${arg_PRODUCT_NAME}")
        launcher_version_string(strings ProductVersion "${name_VERSION}" "${version}")
        set(LAUNCHER_RC_STRINGS "${strings}")
        # The string table: a row per setting, as the resource script writes it.
        set(rows "")
        foreach(key ${settings})
            launcher_check_setting(text ${key} "${name_${key}}" "${arg_${key}}")
            string(APPEND rows "    ${LAUNCHER_SETTING_${key}_ID} \"${text}\"\n")
        endforeach()
        launcher_check_settings_together("${arg_WINDOW_CLASS}" "${arg_WINDOW_TITLE}"
                                         "${name_WINDOW_CLASS} and ${name_WINDOW_TITLE}")
        set(LAUNCHER_RC_STRING_ROWS "${rows}")

        set(rc ${CMAKE_CURRENT_BINARY_DIR}/${name}_resources.rc)
        configure_file(${resources}/launcher.rc.in ${rc} @ONLY)
        target_sources(${name} PRIVATE ${rc})
        # The script is UTF-8, so that texts in any script reach the version record and the
        # string table as they are; it takes the payload's resource and the string ids from the
        # contract.
        set_source_files_properties(${rc} PROPERTIES
            COMPILE_OPTIONS "--codepage=65001;--include-dir=${resources}"
            OBJECT_DEPENDS
                "${arg_PAYLOAD};${LAUNCHER_RC_MANIFEST};${LAUNCHER_RC_ICON};${resources}/launcher_contract.h")
        # A change of the list or of the built manifest configures again.
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                     ${LAUNCHER_SETTINGS_LIST} ${resources}/launcher.manifest)
    elseif(arg_PAYLOAD)
        # A copy of the embedding source per launcher, so that each one's object depends on its
        # own archive.
        set(embed ${CMAKE_CURRENT_BINARY_DIR}/${name}_payload.cpp)
        configure_file(${PROJECT_SOURCE_DIR}/launcher/embedded_payload.cpp ${embed} COPYONLY)
        set_source_files_properties(${embed} PROPERTIES
            COMPILE_DEFINITIONS "LAUNCHER_PAYLOAD_FILE=\"${arg_PAYLOAD}\""
            OBJECT_DEPENDS ${arg_PAYLOAD})
        target_sources(${name} PRIVATE ${embed})
    endif()
endfunction()
