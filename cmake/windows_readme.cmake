# windows_readme.cmake -- writes README.txt for the Windows package: the
# README's "## Windows" section as plain text with CR LF line ends.
# Usage: cmake -DREADME=README.md -DOUTPUT=README.txt -DVERSION=x.y.z -P windows_readme.cmake
file(READ "${README}" text)
string(FIND "${text}" "\n## Windows\n" start)
if(start EQUAL -1)
  message(FATAL_ERROR "${README} has no \"## Windows\" section")
endif()
math(EXPR start "${start} + 12")
string(SUBSTRING "${text}" ${start} -1 section)
string(FIND "${section}" "\n## " end)
if(NOT end EQUAL -1)
  string(SUBSTRING "${section}" 0 ${end} section)
endif()
string(STRIP "${section}" section)
# Markdown's code marks go; the indented commands stay as they are.
string(REPLACE "`" "" section "${section}")
set(title "quombax ${VERSION} on Windows")
string(LENGTH "${title}" title_length)
string(REPEAT "=" ${title_length} underline)
set(text "${title}\n${underline}\n\n${section}\n")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUTPUT}" "${text}")
