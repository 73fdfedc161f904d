# The MPEG reader plays through Wine's real ALSA driver into a raw file, as
# the wave output tests do: ALSA's default PCM is a file over the null device.
set(WC_MPEG_HOME ${CMAKE_BINARY_DIR}/mpeg-home)
set(WC_MPEG_CAPTURE ${WC_MPEG_HOME}/capture.raw)
file(WRITE ${WC_MPEG_HOME}/.asoundrc
"pcm.!default {\n  type file\n  slave.pcm \"null\"\n  file \"${WC_MPEG_CAPTURE}\"\n  format \"raw\"\n}\n")
set_tests_properties(mpeg PROPERTIES
  ENVIRONMENT "HOME=${WC_MPEG_HOME};WC_WAVEOUT_CAPTURE=${WC_MPEG_CAPTURE}")
# The decoder library is loaded from beside the test program.
add_dependencies(mpeg_tests MMMPEG32)
# A decoder library that answers version 24, for the binding's refusal.
add_library(MMMPEG24 SHARED ${CMAKE_CURRENT_LIST_DIR}/oldlib/OldMpegLibrary.cpp)
set_target_properties(MMMPEG24 PROPERTIES PREFIX "" OUTPUT_NAME MMMPEG24)
target_link_options(MMMPEG24 PRIVATE -Wl,--kill-at)
add_dependencies(mpeg_tests MMMPEG24)
# Our decoder itself, compared with the converter's decoding.
target_link_libraries(mpeg_tests PRIVATE mpegdecoder)
