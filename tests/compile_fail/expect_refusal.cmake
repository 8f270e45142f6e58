# Compiles SNIPPET with STATUS_MIX_<MIX> defined and passes only when the
# compiler refuses it with an error line matching DIAGNOSTIC.
execute_process(COMMAND ${COMPILER} ${FLAGS} -DSTATUS_MIX_${MIX} ${SNIPPET}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(result EQUAL 0)
  message(FATAL_ERROR "STATUS_MIX_${MIX} compiled: the status families mix unchecked")
endif()
string(REPLACE "\n" ";" lines "${output}")
foreach(line IN LISTS lines)
  if(line MATCHES "error" AND line MATCHES "${DIAGNOSTIC}")
    message(STATUS "refused as expected: ${line}")
    return()
  endif()
endforeach()
message(FATAL_ERROR "STATUS_MIX_${MIX} failed for another reason:\n${output}")
