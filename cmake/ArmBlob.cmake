# Script mode (cmake -P), run by kestrel_arm_blob: assemble SOURCE for ARCH, link it at two
# addresses, require identical images (position independence) and at most MAX_SIZE bytes, then
# write OUT.bin (raw bytes) and OUT.dis (disassembly of the image linked at 0).
string(REPLACE "|" ";" defines "${DEFINES}")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " cmd "${ARGN}")
    message(FATAL_ERROR "${cmd}\n${out}${err}")
  endif()
endfunction()

run(${CC} --target=${ARCH}-none-eabi -march=${ARCH} -marm -c ${defines} ${SOURCE} -o ${OUT}.o)
foreach(base 0x0 0x1000)
  run(${LD} -static --no-dynamic-linker -e 0 --image-base=0 -Ttext=${base} ${OUT}.o -o ${OUT}.${base}.elf)
  run(${OBJCOPY} -O binary --only-section=.text ${OUT}.${base}.elf ${OUT}.${base}.bin)
endforeach()

execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT}.0x0.bin ${OUT}.0x1000.bin RESULT_VARIABLE same)
if(NOT same EQUAL 0)
  message(FATAL_ERROR "${SOURCE}: the code differs when linked at another address; it must be position independent")
endif()
file(SIZE ${OUT}.0x0.bin size)
if(size EQUAL 0 OR size GREATER MAX_SIZE)
  message(FATAL_ERROR "${SOURCE}: ${size} bytes of code, the limit is ${MAX_SIZE}")
endif()

execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${OUT}.0x0.elf OUTPUT_FILE ${OUT}.dis.new RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed on ${OUT}.0x0.elf")
endif()
file(RENAME ${OUT}.dis.new ${OUT}.dis)
file(COPY_FILE ${OUT}.0x0.bin ${OUT}.bin)
