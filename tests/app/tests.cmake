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
