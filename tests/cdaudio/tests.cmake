# The cases talk to the virtual drive (the test double WNASPI32.DLL beside the
# executable, loaded in place of Wine's builtin library) in the drive that
# scripts/env.sh maps as X:. Playback goes through Wine's ALSA driver into a
# raw file, as in the wave output tests.
add_dependencies(cdaudio_tests wnaspi32)
set(WC_CDAUDIO_HOME ${CMAKE_BINARY_DIR}/cdaudio-home)
set(WC_CDAUDIO_CAPTURE ${WC_CDAUDIO_HOME}/capture.raw)
file(WRITE ${WC_CDAUDIO_HOME}/.asoundrc
"pcm.!default {\n  type file\n  slave.pcm \"null\"\n  file \"${WC_CDAUDIO_CAPTURE}\"\n  format \"raw\"\n}\n")
set_tests_properties(cdaudio PROPERTIES ENVIRONMENT
  "WINEDLLOVERRIDES=mscoree,mshtml=\\;wnaspi32=n;HOME=${WC_CDAUDIO_HOME};WC_CDAUDIO_CAPTURE=${WC_CDAUDIO_CAPTURE}")
