# A test of the build's image check: makes an image with the placeholder generator
# (given ARGS) and checks it as configuring would.
#   cmake -DGENERATOR=... -DIMAGE=... [-DARGS=...] -P TestFirmwareImageCheck.cmake
separate_arguments(_args UNIX_COMMAND "${ARGS}")
execute_process(COMMAND "${GENERATOR}" "${IMAGE}" ${_args} RESULT_VARIABLE _result)
if(NOT _result EQUAL 0)
  message(FATAL_ERROR "could not make the test image ${IMAGE}")
endif()
include(${CMAKE_CURRENT_LIST_DIR}/CheckFirmwareImage.cmake)
fwupdate_check_image("${IMAGE}")
message(STATUS "Firmware image ${IMAGE}: accepted")
