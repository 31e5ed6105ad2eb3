# SPDX-License-Identifier: GPL-2.0-or-later
# cmake -DCLI=lumivox-cli -DOUT=folder -P CliDocs.cmake — writes lumivox-cli's manual page
# (gzipped, as installed) and its bash and zsh completions, each printed by the program
# from its own command table.
cmake_minimum_required(VERSION 3.20)
foreach(what "--manual-page;lumivox-cli.1" "--completion;bash;lumivox-cli.bash"
             "--completion;zsh;_lumivox-cli")
  list(POP_BACK what file)
  execute_process(COMMAND ${CLI} ${what} OUTPUT_FILE ${OUT}/${file} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${CLI} ${what} failed (${status})")
  endif()
endforeach()
# -n: no name or time stamp in the header, so the same page gives the same bytes.
execute_process(COMMAND gzip -9nf ${OUT}/lumivox-cli.1 RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip of the manual page failed")
endif()
