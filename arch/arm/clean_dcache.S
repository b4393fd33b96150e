@ CleanDCache(r0 = flush area, r1 = D-cache size in bytes): writes every dirty data-cache line
@ back to memory before the MMU and caches go off, so that the chain, the argument page and the
@ second stage that were written through cached mappings are really in DRAM.
@
@ Neither family has a "clean whole D-cache" operation that suits both; instead one word is read
@ in every 32-byte line (the line size of SA-11x0 and XScale) over a cacheable area at least as
@ large as the cache. The cache then holds nothing but lines of that area, and every line it
@ held before, dirty ones included, has been evicted and written back. The caller passes 8192
@ (the SA-1110's 8 KiB D-cache) or 65536 (twice the PXA-2x0's 32 KiB, covering its
@ round-robin replacement).

        .syntax unified
        .arm
        .text
        .globl  CleanDCache
CleanDCache:
        add     r1, r0, r1
1:
        cmp     r0, r1
        ldrlo   r2, [r0], #32
        blo     1b
        mov     pc, lr
