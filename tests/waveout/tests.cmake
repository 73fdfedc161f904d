# The wave output plays through Wine's real ALSA driver. ALSA's default PCM
# is pointed at a raw file over the null device (an .asoundrc in a home of
# its own), so the tests read back every byte that was played. A second run
# gets a default PCM that cannot open: a system without a wave output device.
set(WC_WAVEOUT_HOME ${CMAKE_BINARY_DIR}/waveout-home)
set(WC_WAVEOUT_CAPTURE ${WC_WAVEOUT_HOME}/capture.raw)
file(WRITE ${WC_WAVEOUT_HOME}/.asoundrc
"pcm.!default {\n  type file\n  slave.pcm \"null\"\n  file \"${WC_WAVEOUT_CAPTURE}\"\n  format \"raw\"\n}\n")
set(WC_NODEVICE_HOME ${CMAKE_BINARY_DIR}/waveout-nodevice-home)
file(WRITE ${WC_NODEVICE_HOME}/.asoundrc "pcm.!default {\n  type hw\n  card 97\n}\n")

set_tests_properties(waveout PROPERTIES
  ENVIRONMENT "HOME=${WC_WAVEOUT_HOME};WC_WAVEOUT_CAPTURE=${WC_WAVEOUT_CAPTURE}")
# The default run skips the no-device cases by itself (it has a device).
add_test(NAME waveout_nodevice COMMAND waveout_tests --gtest_color=no --gtest_filter=*NoDevice*
         WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set_tests_properties(waveout_nodevice PROPERTIES TIMEOUT 900
  ENVIRONMENT "HOME=${WC_NODEVICE_HOME};WC_WAVEOUT_NODEVICE=1")
