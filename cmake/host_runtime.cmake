# The C runtime's narrow calls that glibc also has: code written for Windows calls fopen,
# printf, fprintf and fputs by these names, and on the host these calls must reach the
# layer's runtime (the simulated machine's files and console) rather than glibc's. Once a
# library of such code is built, its references to these names are renamed to the layer's
# functions (host_fopen and the rest), so that no header and no include order decides which
# function is called. The compiler must not first turn one of these calls into another C
# library call (printf("...\n") into puts, fputs of a constant into fwrite).
#
#     use_host_runtime(<static library> [<object library whose objects it holds> ...])
set(HOST_RUNTIME_CALLS fopen printf fprintf fputs)

function(use_host_runtime target)
    set(renames)
    foreach(call ${HOST_RUNTIME_CALLS})
        foreach(compiled ${target} ${ARGN})
            target_compile_options(${compiled} PRIVATE -fno-builtin-${call})
        endforeach()
        list(APPEND renames --redefine-sym ${call}=host_${call})
    endforeach()
    # clang-14 still turns fputs of a constant into fwrite under -fno-builtin-fputs.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        foreach(compiled ${target} ${ARGN})
            target_compile_options(${compiled} PRIVATE -fno-builtin)
        endforeach()
    endif()
    add_custom_command(TARGET ${target} POST_BUILD COMMAND ${CMAKE_OBJCOPY} ${renames} $<TARGET_FILE:${target}>
                       VERBATIM)
endfunction()
