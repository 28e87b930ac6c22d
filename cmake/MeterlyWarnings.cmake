# Warnings for the project's own targets (not for dependencies).
function(meterly_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                             -Wold-style-cast -Wcast-align -Wunused -Woverloaded-virtual
                                             -Wnull-dereference -Wimplicit-fallthrough)
endfunction()

# meterly_add_library(<name> SOURCES ... [DEPS ...]) creates meterly_<name> with alias meterly::<name>.
function(meterly_add_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
    add_library(meterly_${name} STATIC ${ARG_SOURCES})
    add_library(meterly::${name} ALIAS meterly_${name})
    target_include_directories(meterly_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(meterly_${name} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
    meterly_warnings(meterly_${name})
endfunction()
