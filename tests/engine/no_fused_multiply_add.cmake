# Fails when the object code of the numeric libraries contains a fused multiply-add: a fused
# instruction rounds once where the filters round twice, so the TK1 bytes would then depend on
# the compiler's choices and the processor. Run by CTest in script mode:
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
  string(REGEX MATCHALL "[ \t](v?fn?m(add|sub)|fml[as])[a-z0-9.]*[ \t]" hits "${asm}")
  if(hits)
    list(GET hits 0 first)
    string(STRIP "${first}" first)
    string(APPEND found "\n  ${obj}: ${first}")
  endif()
endforeach()
if(found)
  message(FATAL_ERROR "fused multiply-add instructions in:${found}")
endif()
message("${count} object files without fused multiply-add")
