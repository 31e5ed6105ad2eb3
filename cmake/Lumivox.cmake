# SPDX-License-Identifier: GPL-2.0-or-later
# Shared build settings and helpers for every Lumivox target.

add_library(lumivox_options INTERFACE)
target_compile_options(lumivox_options INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra>
  $<$<COMPILE_LANGUAGE:C>:-Wall -Wextra>)
target_compile_definitions(lumivox_options INTERFACE
  LUMIVOX_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
  LUMIVOX_VERSION="${PROJECT_VERSION}")

if(LUMIVOX_SANITIZE)
  target_compile_options(lumivox_options INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(lumivox_options INTERFACE -fsanitize=address,undefined)
endif()
if(LUMIVOX_TSAN)
  target_compile_options(lumivox_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(lumivox_options INTERFACE -fsanitize=thread)
endif()
if(LUMIVOX_FUZZ)
  target_compile_options(lumivox_options INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  target_link_options(lumivox_options INTERFACE -fsanitize=address,undefined)
endif()

# lumivox_library(NAME DEPS dep...) — a static library of every .cpp/.c file in the
# current source folder (recursively), with the folder's parent (src/) on the include
# path so that headers are included as "picture/PicBitmap.h".
function(lumivox_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC lumivox_options ${ARG_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE lumivox_options ${ARG_DEPS})
  endif()
endfunction()

# lumivox_tests([GUI] LIBS lib...) — one GoogleTest executable per *_test.cpp in the
# current folder, each registered with CTest. Test executables run with the build's bin/
# as their program folder and may read fixtures from tests/data. With GUI, the tests draw:
# their main makes the graphics application on the main thread first, as our programs do
# (except files named *_noapp_test.cpp, which check what happens without one).
function(lumivox_tests)
  cmake_parse_arguments(ARG "GUI" "" "LIBS" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  file(GLOB helpers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_helpers.cpp)
  foreach(test_source ${tests})
    get_filename_component(test_name ${test_source} NAME_WE)
    if(ARG_GUI AND NOT test_name MATCHES "_noapp_test$")
      add_executable(${test_name} ${test_source} ${helpers} ${CMAKE_SOURCE_DIR}/tests/support/gui_test_main.cpp)
      target_link_libraries(${test_name} PRIVATE ${ARG_LIBS} lumivox_picture GTest::gtest lumivox_options)
    else()
      add_executable(${test_name} ${test_source} ${helpers})
      target_link_libraries(${test_name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main lumivox_options)
    endif()
    target_include_directories(${test_name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    target_compile_definitions(${test_name} PRIVATE
      LUMIVOX_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data"
      LUMIVOX_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
    add_dependencies(${test_name} lumivox_data)
    gtest_discover_tests(${test_name}
      WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
      PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LUMIVOX_SYSTEM_DRIVES=0;LUMIVOX_EMULATED_TIME_SCALE=0.02"
      DISCOVERY_TIMEOUT 60)
  endforeach()
endfunction()
