# The project's warnings, on its own targets only: code it builds from elsewhere (GoogleTest from
# Debian's source package in the cross build) keeps its own flags.
add_library(launcher_warnings INTERFACE)
target_compile_options(launcher_warnings INTERFACE -Wall -Wextra -Wpedantic
                       $<$<BOOL:${LAUNCHER_WERROR}>:-Werror>)

# launcher_link_warnings(<source folder>): links launcher_warnings into every compiled target
# defined in the folder and the project's folders below it. Called once, after all folders are
# added, so that no target can be forgotten.
function(launcher_link_warnings dir)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target ${targets})
        get_target_property(type ${target} TYPE)
        if(type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
            target_link_libraries(${target} PRIVATE launcher_warnings)
        endif()
    endforeach()
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(subdir ${subdirs})
        cmake_path(IS_PREFIX PROJECT_SOURCE_DIR "${subdir}" NORMALIZE inside)
        if(inside)
            launcher_link_warnings(${subdir})
        endif()
    endforeach()
endfunction()
