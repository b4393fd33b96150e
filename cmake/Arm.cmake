# ARM code built with the installed clang and ld.lld, whatever the host compiler of the build is
# (the win32 build embeds the very same bytes as the host build).
#
#   kestrel_arm_blob(NAME SOURCE src.S ARCH armv4|armv5te [DEFINES D...] [MAX_SIZE n])
#       assembles one routine into NAME.bin (raw bytes) and NAME.dis (its disassembly) in the
#       current binary folder. The routine is linked twice, at 0 and at 0x1000; the build fails
#       when the two images differ, i.e. when the code is not position independent.
#   kestrel_arm_blob_sources(OUTPUT file.cpp NAMESPACE ns NAMES a b ...)
#       writes a C++ file defining `const unsigned char a[]` and `const std::size_t aSize` for
#       every blob, each instruction word commented with its disassembly.

find_program(KESTREL_ARM_CC NAMES clang clang-14 REQUIRED)
find_program(KESTREL_ARM_LD NAMES ld.lld ld.lld-14 REQUIRED)
find_program(KESTREL_ARM_OBJCOPY NAMES llvm-objcopy llvm-objcopy-14 REQUIRED)
find_program(KESTREL_ARM_OBJDUMP NAMES llvm-objdump llvm-objdump-14 REQUIRED)

set(KESTREL_ARM_CMAKE_DIR ${CMAKE_CURRENT_LIST_DIR})

function(kestrel_arm_blob name)
  cmake_parse_arguments(B "" "SOURCE;ARCH;MAX_SIZE" "DEFINES" ${ARGN})
  if(NOT B_MAX_SIZE)
    set(B_MAX_SIZE 4096)
  endif()
  get_filename_component(src ${B_SOURCE} ABSOLUTE)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${name})
  set(defs "")
  foreach(d ${B_DEFINES})
    list(APPEND defs -D${d})
  endforeach()
  string(REPLACE ";" "|" defs "${defs}")
  add_custom_command(
    OUTPUT ${out}.bin ${out}.dis
    COMMAND ${CMAKE_COMMAND} -DCC=${KESTREL_ARM_CC} -DLD=${KESTREL_ARM_LD} -DOBJCOPY=${KESTREL_ARM_OBJCOPY}
            -DOBJDUMP=${KESTREL_ARM_OBJDUMP} -DSOURCE=${src} -DARCH=${B_ARCH} "-DDEFINES=${defs}"
            -DOUT=${out} -DMAX_SIZE=${B_MAX_SIZE} -P ${KESTREL_ARM_CMAKE_DIR}/ArmBlob.cmake
    DEPENDS ${src} ${KESTREL_ARM_CMAKE_DIR}/ArmBlob.cmake
    IMPLICIT_DEPENDS C ${src}
    COMMENT "ARM ${B_ARCH}: ${name}"
    VERBATIM)
endfunction()

function(kestrel_arm_blob_sources)
  cmake_parse_arguments(G "" "OUTPUT;NAMESPACE" "NAMES" ${ARGN})
  set(deps "")
  foreach(n ${G_NAMES})
    list(APPEND deps ${CMAKE_CURRENT_BINARY_DIR}/${n}.bin ${CMAKE_CURRENT_BINARY_DIR}/${n}.dis)
  endforeach()
  string(REPLACE ";" "|" names "${G_NAMES}")
  add_custom_command(
    OUTPUT ${G_OUTPUT}
    COMMAND ${CMAKE_COMMAND} "-DNAMES=${names}" -DDIR=${CMAKE_CURRENT_BINARY_DIR} -DNAMESPACE=${G_NAMESPACE}
            -DOUTPUT=${G_OUTPUT} -P ${KESTREL_ARM_CMAKE_DIR}/ArmBlobSources.cmake
    DEPENDS ${deps} ${KESTREL_ARM_CMAKE_DIR}/ArmBlobSources.cmake
    COMMENT "ARM blobs -> ${G_OUTPUT}"
    VERBATIM)
endfunction()
