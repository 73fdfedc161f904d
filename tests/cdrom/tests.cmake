# The cases talk to the virtual drive: the test double WNASPI32.DLL beside the
# executable, loaded in place of Wine's builtin library.
add_dependencies(cdrom_tests wnaspi32)
set_tests_properties(cdrom PROPERTIES ENVIRONMENT "WINEDLLOVERRIDES=mscoree,mshtml=\\;wnaspi32=n")
