# The cases named *ShiftJis* need a system whose ANSI code page is Shift-JIS,
# as on the program's Japanese target systems; Wine takes the code page from
# the locale. They run again in their own test with a Japanese locale, and
# so do the names outside the code page (*AnyName*).
add_test(NAME app_shiftjis COMMAND app_tests --gtest_color=no --gtest_filter=*ShiftJis*:*AnyName*
         WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set_tests_properties(app_shiftjis PROPERTIES TIMEOUT 900 ENVIRONMENT "LC_ALL=ja_JP.UTF-8;LANG=ja_JP.UTF-8")

# The stand-in converter that the job tests put in place of ffmpeg.exe: a
# console program of its own, built beside the tests.
add_executable(standin_converter ${CMAKE_CURRENT_SOURCE_DIR}/app/standin/StandInConverter.cpp)
add_dependencies(app_tests standin_converter)

# The table of hazards to the user's files (UsersFiles) runs on its own: its
# large cases take minutes, and it needs a full file system and a read-only
# program folder, which scripts/test-drives.sh mounts before it and removes
# after it (root, or sudo without a password).
string(MD5 build_key "${CMAKE_BINARY_DIR}")
string(SUBSTRING "${build_key}" 0 8 build_key)
set(full_drive "WC_FULL_DRIVE=wc full drive ${build_key}")
set_tests_properties(app PROPERTIES ENVIRONMENT "GTEST_FILTER=-*UsersFiles*")
add_test(NAME app_usersfiles COMMAND app_tests --gtest_color=no --gtest_filter=*UsersFiles*
         WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
add_test(NAME app_usersfiles_drives_up COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/test-drives.sh up)
add_test(NAME app_usersfiles_drives_down COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/test-drives.sh down)
set_tests_properties(app_usersfiles_drives_up app_usersfiles_drives_down PROPERTIES
                     ENVIRONMENT "WC_BUILD_DIR=${CMAKE_BINARY_DIR};${full_drive}")
set_tests_properties(app_usersfiles_drives_up PROPERTIES FIXTURES_SETUP usersfiles_drives)
set_tests_properties(app_usersfiles_drives_down PROPERTIES FIXTURES_CLEANUP usersfiles_drives)
set_tests_properties(app_usersfiles PROPERTIES FIXTURES_REQUIRED usersfiles_drives TIMEOUT 3600
                     ENVIRONMENT "${full_drive}")
