# Checks that a program holds none of the code that writes to a drive: no builder of a
# download or an activation request and no update path. Run as
#   cmake -DNM=<nm> -DPROGRAM=<file with symbols> -P CheckReadOnlyLink.cmake
# The build links the preflight against the query library alone; this makes the link
# itself the proof, so that a later change of libraries cannot pull such code back in.
execute_process(COMMAND "${NM}" -C "${PROGRAM}" OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} could not read ${PROGRAM}")
endif()
string(LENGTH "${symbols}" length)
if(length LESS 1000)
  message(FATAL_ERROR "${PROGRAM} has almost no symbols: not the program to check")
endif()
set(found "")
foreach(name FillDownloadRequest FillActivateRequest BuildActivateRequest WriteDownloadPayload
             WriteActivatePayload "fwreq::WriteDownload" "fwreq::WriteActivate" UpdateInboxDisk
             UpdateRstDisk DownloadRstFirmware ActivateRstFirmware)
  string(FIND "${symbols}" "${name}" at)
  if(NOT at EQUAL -1)
    list(APPEND found "${name}")
  endif()
endforeach()
if(found)
  message(FATAL_ERROR "${PROGRAM} holds code that writes to a drive: ${found}")
endif()
message(STATUS "${PROGRAM}: no code that writes to a drive")
