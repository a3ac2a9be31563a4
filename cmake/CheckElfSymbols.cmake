cmake_minimum_required(VERSION 3.25)

# Checks the dynamic symbol tables of the Linux libraries:
#   LORVANT.so defines VpiMain and nothing else, and takes err and Kyr5UnCook
#   with the symbol version KYRPRO;
#   libKYRPRO.so defines err and Kyr5UnCook with the version KYRPRO.
# Usage: cmake -DNM=nm -DDRIVER=LORVANT.so -DRUNTIME=libKYRPRO.so -P CheckElfSymbols.cmake

function(dynamic_symbols library mode out)
  execute_process(COMMAND ${NM} -D ${mode} --format=just-symbols ${library}
                  OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${library}")
  endif()
  string(REGEX REPLACE "\n$" "" text "${text}")
  string(REPLACE "\n" ";" list "${text}")
  set(${out} "${list}" PARENT_SCOPE)
endfunction()

set(failed FALSE)

dynamic_symbols(${DRIVER} --defined-only defined)
if(NOT defined STREQUAL "VpiMain")
  message(SEND_ERROR "LORVANT.so must define VpiMain alone, defines: ${defined}")
  set(failed TRUE)
endif()

dynamic_symbols(${DRIVER} --undefined-only undefined)
foreach(symbol err@KYRPRO Kyr5UnCook@KYRPRO)
  if(NOT symbol IN_LIST undefined)
    message(SEND_ERROR "LORVANT.so must take ${symbol}, takes: ${undefined}")
    set(failed TRUE)
  endif()
endforeach()
foreach(symbol err err@GLIBC_2.2.5)
  if(symbol IN_LIST undefined)
    message(SEND_ERROR "LORVANT.so takes ${symbol} unversioned or from the C library")
    set(failed TRUE)
  endif()
endforeach()

dynamic_symbols(${RUNTIME} --defined-only runtime)
foreach(symbol err@@KYRPRO Kyr5UnCook@@KYRPRO)
  if(NOT symbol IN_LIST runtime)
    message(SEND_ERROR "libKYRPRO.so must define ${symbol}, defines: ${runtime}")
    set(failed TRUE)
  endif()
endforeach()

if(failed)
  message(FATAL_ERROR "symbol check failed")
endif()
message(STATUS "LORVANT.so exports VpiMain only and takes err, Kyr5UnCook from KYRPRO")
