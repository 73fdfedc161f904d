# The sweep writes its files into memory where the host has a tmpfs (Wine
# shows the host's root as drive Z:), one folder per build tree.
if(EXISTS /dev/shm)
  string(MD5 wc_build_hash "${CMAKE_BINARY_DIR}")
  string(SUBSTRING "${wc_build_hash}" 0 8 wc_build_hash)
  set_tests_properties(mutation PROPERTIES ENVIRONMENT "WC_MUTATION_DIR=Z:\\dev\\shm\\wc-mutation-${wc_build_hash}")
endif()
