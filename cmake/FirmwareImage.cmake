# The firmware image the program carries.
#
# FWUPDATE_FIRMWARE_IMAGE names a 2,097,152-byte image file. Left empty, a
# deterministic placeholder is generated at build time by a small host program, with
# the metadata block in place. The image is embedded with the assembler's .incbin,
# which costs a few hundredths of a second where a generated array would cost seconds.

set(FWUPDATE_FIRMWARE_IMAGE "" CACHE FILEPATH
    "Firmware image to embed (2,097,152 bytes); empty for the generated placeholder")

include(${CMAKE_CURRENT_LIST_DIR}/CheckFirmwareImage.cmake)

if(FWUPDATE_FIRMWARE_IMAGE)
  get_filename_component(_image "${FWUPDATE_FIRMWARE_IMAGE}" ABSOLUTE)
  fwupdate_check_image("${_image}")
  set(FWUPDATE_IMAGE_FILE "${_image}")
else()
  # The generator runs on the build machine, also when the target is Windows.
  if(CMAKE_CROSSCOMPILING)
    find_program(FWUPDATE_HOST_CXX NAMES c++ g++ REQUIRED)
  else()
    set(FWUPDATE_HOST_CXX "${CMAKE_CXX_COMPILER}")
  endif()
  set(FWUPDATE_IMAGE_FILE "${CMAKE_BINARY_DIR}/firmware/placeholder-image.bin")
  set(FWUPDATE_IMAGE_GENERATOR "${CMAKE_BINARY_DIR}/firmware/make-placeholder-image")
  set(_generator "${FWUPDATE_IMAGE_GENERATOR}")
  add_custom_command(
    OUTPUT "${FWUPDATE_IMAGE_FILE}"
    COMMAND "${FWUPDATE_HOST_CXX}" -std=c++17 -O1 -o "${_generator}"
            "${CMAKE_SOURCE_DIR}/tools/make_placeholder_image.cpp"
    COMMAND "${_generator}" "${FWUPDATE_IMAGE_FILE}"
    DEPENDS "${CMAKE_SOURCE_DIR}/tools/make_placeholder_image.cpp"
    COMMENT "Generating the placeholder firmware image"
    VERBATIM)
  add_custom_target(fwupdate_placeholder_image DEPENDS "${FWUPDATE_IMAGE_FILE}")
endif()

set(FWUPDATE_IMAGE_OBJECT_SOURCE "${CMAKE_BINARY_DIR}/firmware/image_blob.S")
configure_file("${CMAKE_SOURCE_DIR}/firmware/image_blob.S.in" "${FWUPDATE_IMAGE_OBJECT_SOURCE}" @ONLY)
# The revision alone, for a program that names the image without carrying it.
set(FWUPDATE_REVISION_OBJECT_SOURCE "${CMAKE_BINARY_DIR}/firmware/image_revision.S")
configure_file("${CMAKE_SOURCE_DIR}/firmware/image_revision.S.in"
  "${FWUPDATE_REVISION_OBJECT_SOURCE}" @ONLY)
set_source_files_properties("${FWUPDATE_IMAGE_OBJECT_SOURCE}" "${FWUPDATE_REVISION_OBJECT_SOURCE}"
  PROPERTIES OBJECT_DEPENDS "${FWUPDATE_IMAGE_FILE}")
