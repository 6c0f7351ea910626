# Run by cpack on its staging tree once the stripped programs are installed there: `strip` keeps
# the compiler's .comment section, which Debian's own packaging tools drop from a program.
set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
foreach(program "${root}/bin/varnel" "${root}/libexec/varnel/varnel-reset-helper")
    if(NOT EXISTS "${program}")
        message(FATAL_ERROR "no program to trim at ${program}")
    endif()
    execute_process(COMMAND "${CPACK_VARNEL_OBJCOPY}" --remove-section=.comment "${program}"
        RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "objcopy could not drop .comment from ${program}")
    endif()
endforeach()
