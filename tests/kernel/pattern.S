@ The probe kernel's data whose content it can re-derive: 1 MiB of read-only words and 4 KiB of
@ initialised writable words, each the xorshift32 sequence (x ^= x << 13; x ^= x >> 17;
@ x ^= x << 5; emit x) from its seed. probe.c and tests/kernel/probe_image.h compute the same
@ sequence.

        .macro  xorshift_words seed, count
        .set    x, \seed
        .rept   \count
        .set    x, x ^ ((x << 13) & 0xFFFFFFFF)
        .set    x, x ^ (x >> 17)
        .set    x, x ^ ((x << 5) & 0xFFFFFFFF)
        .word   x
        .endr
        .endm

        .section .rodata.pattern, "a"
        .balign 4
        .globl  probe_rodata_pattern
probe_rodata_pattern:
        xorshift_words 0x2545F491, 262144
        .size   probe_rodata_pattern, . - probe_rodata_pattern

        .section .data.pattern, "aw"
        .balign 4
        .globl  probe_data_pattern
probe_data_pattern:
        xorshift_words 0x9E3779B9, 1024
        .size   probe_data_pattern, . - probe_data_pattern
