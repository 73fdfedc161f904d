# The stress rounds play through Wine's ALSA driver like the waveout tests,
# with the shared fixtures; ALSA's default PCM writes into the null device
# here, since thousands of rounds would only grow a capture nobody reads.
set(WC_STRESS_HOME ${CMAKE_BINARY_DIR}/waveoutstress-home)
file(WRITE ${WC_STRESS_HOME}/.asoundrc
"pcm.!default {\n  type file\n  slave.pcm \"null\"\n  file \"/dev/null\"\n  format \"raw\"\n}\n")
set_tests_properties(waveoutstress PROPERTIES
  ENVIRONMENT "HOME=${WC_STRESS_HOME};WC_WAVEOUT_CAPTURE=/dev/null")
