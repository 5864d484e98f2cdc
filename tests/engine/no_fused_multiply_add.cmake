# Fails when the object code of the numeric libraries contains a fused multiply-add: a fused
# instruction rounds once where the filters round twice, so the TK1 bytes would then depend on
# the compiler's choices and the processor. The one exception: single-precision fused
# multiply-adds in the float kernels whose every result is checked against a proven bound (the
# AVX2 high-pass and screen). Run by CTest in script mode:
#   cmake -DOBJDUMP=<objdump> -DOBJECTS=<objects separated by |> -P no_fused_multiply_add.cmake
if(NOT OBJDUMP OR NOT EXISTS "${OBJDUMP}")
  message("SKIPPED: no objdump to disassemble with")
  return()
endif()
string(REPLACE "|" ";" objects "${OBJECTS}")
list(LENGTH objects count)
if(count EQUAL 0)
  message(FATAL_ERROR "no object files given")
endif()
set(found "")
foreach(obj IN LISTS objects)
  execute_process(COMMAND "${OBJDUMP}" -d "${obj}" OUTPUT_VARIABLE asm RESULT_VARIABLE rc
                  ERROR_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cannot disassemble ${obj}")
  endif()
  # x86: vfmadd..., vfmsub..., vfnmadd..., vfnmsub... (FMA3, FMA4, AVX-512);
  # AArch64: fmadd, fmsub, fnmadd, fnmsub, fmla, fmls.
  # The functions' headers ("0000000000000000 <name>:") come in order with the hits.
  string(REGEX MATCHALL "<[^<>\n]+>:|[ \t](v?fn?m(add|sub)|fml[as])[a-z0-9.]*[ \t]" tokens
         "${asm}")
  set(function "")
  foreach(token IN LISTS tokens)
    if(token MATCHES "^<(.*)>:$")
      set(function "${CMAKE_MATCH_1}")
      continue()
    endif()
    string(STRIP "${token}" hit)
    if(hit MATCHES "^vfmadd[0-9]+ps$" AND function MATCHES "(HighPassAvx2T|ScreenAvx2|ScreenEight)")
      continue()
    endif()
    string(APPEND found "\n  ${obj}: ${hit} in ${function}")
    break()
  endforeach()
endforeach()
if(found)
  message(FATAL_ERROR "fused multiply-add instructions in:${found}")
endif()
message("${count} object files without fused multiply-add")
