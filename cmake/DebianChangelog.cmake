# SPDX-License-Identifier: GPL-2.0-or-later
# cmake -DIN=CHANGELOG.md -DOUT=changelog.gz -DPACKAGE=name -DMAINTAINER="Name <mail>"
#       -P DebianChangelog.cmake
# The package's changelog in Debian's format, from CHANGELOG.md: each "## VERSION - DATE"
# heading becomes an entry, its "- " items the entry's "* " lines (continuation lines
# indented by two spaces stay with their item).
cmake_minimum_required(VERSION 3.20)
file(STRINGS ${IN} lines)
set(out "")
set(trailer "")
foreach(line IN LISTS lines)
  if(line MATCHES "^## ([^ ]+) - ([0-9]+-[0-9]+-[0-9]+)")
    string(APPEND out "${trailer}")
    set(version ${CMAKE_MATCH_1})
    execute_process(COMMAND date -R -u -d "${CMAKE_MATCH_2} 12:00"
      OUTPUT_VARIABLE date OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "${IN}: '${line}' has no date date(1) can read")
    endif()
    string(APPEND out "${PACKAGE} (${version}) unstable; urgency=medium\n\n")
    set(trailer "\n -- ${MAINTAINER}  ${date}\n\n")
  elseif(NOT trailer STREQUAL "" AND line MATCHES "^- (.*)$")
    string(APPEND out "  * ${CMAKE_MATCH_1}\n")
  elseif(NOT trailer STREQUAL "" AND line MATCHES "^  +([^ ].*)$")
    string(APPEND out "    ${CMAKE_MATCH_1}\n")
  endif()
endforeach()
string(APPEND out "${trailer}")
string(REGEX REPLACE "\n\n$" "\n" out "${out}")
string(REGEX REPLACE "\\.gz$" "" plain "${OUT}")
file(WRITE ${plain} "${out}")
execute_process(COMMAND gzip -9nf ${plain} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip of the changelog failed")
endif()
