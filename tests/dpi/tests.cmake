# The same cases at the three densities users meet most: 96 (100 %) in the
# main prefix, 120 (125 %) and 144 (150 %) each in a prefix of its own
# (scripts/wine-dpi.sh). Each run is told the density it expects, so that a
# prefix left at 96 cannot pass for another.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/test-output)
# The wave chooser may play: into the file sink the wavedialog tests set up.
set(WC_DPI_SOUND "ALSA_CONFIG_PATH=${CMAKE_BINARY_DIR}/test-output/alsa-file-sink.conf")
set_tests_properties(${area} PROPERTIES ENVIRONMENT "WC_EXPECTED_DPI=96;${WC_DPI_SOUND}")
foreach(dpi 120 144)
  add_test(NAME ${area}_${dpi}
           COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/wine-dpi.sh ${dpi} $<TARGET_FILE:${area}_tests> --gtest_color=no
           WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  set_tests_properties(${area}_${dpi} PROPERTIES TIMEOUT 900 ENVIRONMENT "WC_EXPECTED_DPI=${dpi};${WC_DPI_SOUND}")
endforeach()
