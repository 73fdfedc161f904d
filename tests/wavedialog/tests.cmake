# The wave chooser plays through a sound device: an ALSA device that writes
# what it is given to a file, so the tests can see that bytes were played.
set(WC_PLAYED_FILE ${CMAKE_BINARY_DIR}/test-output/played.raw)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/test-output)
file(WRITE ${CMAKE_BINARY_DIR}/test-output/alsa-file-sink.conf
"pcm.!default {\n    type file\n    slave.pcm \"nullsink\"\n    file \"${WC_PLAYED_FILE}\"\n    format \"raw\"\n}\npcm.nullsink {\n    type null\n}\n")
set_tests_properties(${area} PROPERTIES ENVIRONMENT
  "ALSA_CONFIG_PATH=${CMAKE_BINARY_DIR}/test-output/alsa-file-sink.conf;WC_PLAYED_FILE=${WC_PLAYED_FILE}")
