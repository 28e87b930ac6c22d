# Warnings for the project's own targets (not for dependencies).
function(meterly_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                             -Wold-style-cast -Wcast-align -Wunused -Woverloaded-virtual
                                             -Wnull-dereference -Wimplicit-fallthrough -Wconversion
                                             -Wsign-conversion)
    # g++ 12 pairs the operator new and delete of Asio's coroutine frames wrongly (a false positive
    # on every awaitable that is destroyed in the function that made it).
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        target_compile_options(${target} PRIVATE -Wno-mismatched-new-delete)
        # Under ThreadSanitizer g++ 12 warns on every std::atomic_thread_fence, and Asio's handlers
        # end in one; and the instrumented code makes its flow analysis see null pointers inside
        # libstdc++'s stream buffers and Asio's scheduler. Neither is about our code; the asan
        # build keeps the null-dereference check.
        if(METERLY_SANITIZE MATCHES "thread")
            target_compile_options(${target} PRIVATE -Wno-tsan -Wno-null-dereference)
        endif()
    endif()
    if(METERLY_WARNINGS_AS_ERRORS)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
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
