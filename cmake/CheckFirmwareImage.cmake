# fwupdate_check_image(PATH): stops with one clear message unless PATH is a firmware
# image the program can carry: exactly 2,097,152 bytes with the metadata signature
# at 0x3000. Used when configuring, and by the tests in script mode.

set(FWUPDATE_IMAGE_SIZE 2097152)
set(FWUPDATE_IMAGE_SIGNATURE "FW_IMAGE_META_SIGNATURE_________")

function(fwupdate_check_image image)
  if(NOT EXISTS "${image}" OR IS_DIRECTORY "${image}")
    message(FATAL_ERROR "Firmware image ${image}: no such file")
  endif()
  file(SIZE "${image}" size)
  if(NOT size EQUAL FWUPDATE_IMAGE_SIZE)
    message(FATAL_ERROR
      "Firmware image ${image}: ${size} bytes; an image must be exactly ${FWUPDATE_IMAGE_SIZE} bytes")
  endif()
  # Compared as hex: the bytes around the block are binary, which text reads mangle.
  file(READ "${image}" signature OFFSET 12288 LIMIT 32 HEX)
  string(HEX "${FWUPDATE_IMAGE_SIGNATURE}" expected)
  if(NOT signature STREQUAL expected)
    message(FATAL_ERROR
      "Firmware image ${image}: no metadata signature \"${FWUPDATE_IMAGE_SIGNATURE}\" at offset 0x3000")
  endif()
endfunction()

# Script mode: cmake -DIMAGE=FILE -P CheckFirmwareImage.cmake
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE AND DEFINED IMAGE)
  fwupdate_check_image("${IMAGE}")
  message(STATUS "Firmware image ${IMAGE}: accepted")
endif()
