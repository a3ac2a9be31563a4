cmake_minimum_required(VERSION 3.25)

# Checks the Windows library's export and import tables with objdump:
#   LORVANT.dll is a 32-bit image that exports VpiMain, undecorated, and
#   nothing else, imports err and Kyr5UnCook from KYRPRO.DLL, and serves its
#   serial port with the communications calls of KERNEL32.dll.
# Usage: cmake -DOBJDUMP=i686-w64-mingw32-objdump -DDRIVER=LORVANT.dll -P CheckDllInterface.cmake

execute_process(COMMAND ${OBJDUMP} -p ${DRIVER} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed on ${DRIVER}")
endif()

set(failed FALSE)
if(NOT dump MATCHES "file format pei-i386")
  message(SEND_ERROR "${DRIVER} is not a 32-bit Windows image")
  set(failed TRUE)
endif()

# Walk the dump line by line: the export name table follows its heading, and
# each imported module's names follow its "DLL Name:" line.
string(REPLACE ";" "\\;" dump "${dump}")
string(REPLACE "\n" ";" lines "${dump}")
set(section "")
set(exports "")
set(kyrproImports "")
set(kernelImports "")
foreach(line IN LISTS lines)
  if(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
    set(section exports)
  elseif(line MATCHES "DLL Name: (.+)$")
    set(section "import:${CMAKE_MATCH_1}")
  elseif(section STREQUAL "exports" AND line MATCHES "^[ \t]*\\[ *[0-9]+\\] ([^ \t]+)$")
    list(APPEND exports "${CMAKE_MATCH_1}")
  elseif(section STREQUAL "import:KYRPRO.DLL" AND line MATCHES "^[ \t]*[0-9a-f]+[ \t]+[0-9]+[ \t]+([^ \t]+)$")
    list(APPEND kyrproImports "${CMAKE_MATCH_1}")
  elseif(section MATCHES "^import:KERNEL32.dll$" AND line MATCHES "^[ \t]*[0-9a-f]+[ \t]+[0-9]+[ \t]+([^ \t]+)$")
    list(APPEND kernelImports "${CMAKE_MATCH_1}")
  elseif(line STREQUAL "")
    set(section "")
  endif()
endforeach()

if(NOT exports STREQUAL "VpiMain")
  message(SEND_ERROR "${DRIVER} must export VpiMain alone, undecorated; exports: ${exports}")
  set(failed TRUE)
endif()
foreach(symbol err Kyr5UnCook)
  if(NOT symbol IN_LIST kyrproImports)
    message(SEND_ERROR "${DRIVER} must import ${symbol} from KYRPRO.DLL; imports: ${kyrproImports}")
    set(failed TRUE)
  endif()
endforeach()

foreach(
  symbol
  CreateFileA
  CloseHandle
  GetCommState
  SetCommState
  GetCommTimeouts
  SetCommTimeouts
  SetupComm
  ClearCommError
  ReadFile
  WriteFile
  GetLastError
  EscapeCommFunction
  SetCommBreak
  ClearCommBreak
  Sleep)
  if(NOT symbol IN_LIST kernelImports)
    message(SEND_ERROR "${DRIVER} must call ${symbol} of KERNEL32.dll")
    set(failed TRUE)
  endif()
endforeach()

if(failed)
  message(FATAL_ERROR "interface check failed")
endif()
message(STATUS "${DRIVER}: exports VpiMain, imports ${kyrproImports} from KYRPRO.DLL and its serial calls from KERNEL32.dll")
