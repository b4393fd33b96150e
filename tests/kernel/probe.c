/* The probe kernel: a stand-in for a corvid kernel that checks everything the boot loader
   hands over, prints one line per check on the board's UART and leaves through ARM
   semihosting, with success only when every check held. The report is described in
   README.md; tests read it, so its wording is part of the contract.

   Freestanding: no C library, no division (ARMv4 has no divide instruction and there is no
   run-time library), no writes to memory outside the image until the checks are done. */
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#if defined(PROBE_PXA2X0)
#define PROBE_FAMILY "pxa2x0"
#define PROBE_SERIES 2u /* PlatformId cpu bits 25-20: XScale */
#else
#define PROBE_FAMILY "sa11x0"
#define PROBE_SERIES 1u /* StrongARM */
#endif

/* Linker-script symbols and the data of pattern.S. */
extern char _start[], _end[], __bss_start[], __bss_end[];
extern const uint32_t probe_rodata_pattern[262144];
extern const uint32_t probe_data_pattern[1024];

/* Zero-initialised data, cleared by the chain's zero-clear link: 64 KiB. */
uint32_t probe_bss[16384];

void probe_main(uint32_t r0, uint32_t r1, uint32_t r2, uint32_t sp) __attribute__((noreturn));

/* The compiler may turn loops and aggregate copies into these calls. */
void* memset(void* d, int c, size_t n) {
  unsigned char* p = d;
  while (n--) *p++ = (unsigned char)c;
  return d;
}
void* memcpy(void* d, const void* s, size_t n) {
  unsigned char* p = d;
  const unsigned char* q = s;
  while (n--) *p++ = *q++;
  return d;
}

/* ---- UART ------------------------------------------------------------------------------ */

static inline uint32_t rd_reg(uint32_t a) { return *(volatile uint32_t*)a; }
static inline void wr_reg(uint32_t a, uint32_t v) { *(volatile uint32_t*)a = v; }

#if defined(PROBE_PXA2X0)
/* FFUART, a 16550 with 32-bit register spacing. IER bit 6 (UUE) is the PXA's unit enable;
   LSR bit 5 (TDRQ) says the transmit FIFO takes another byte. */
#define UART_BASE 0x40100000u
#define UART_THR (UART_BASE + 0x00)
#define UART_IER (UART_BASE + 0x04)
#define UART_LSR (UART_BASE + 0x14)
static void uart_init(void) { wr_reg(UART_IER, 0x40); }
static void uart_put(char c) {
  while (!(rd_reg(UART_LSR) & 0x20)) {
  }
  wr_reg(UART_THR, (unsigned char)c);
}
#else
/* SA-11x0 UART 3 (serial port 3). UTCR3 bit 1 (TXE) enables the transmitter, bit 0 the
   receiver, interrupts stay off; UTSR1 bit 2 (TNF) says the transmit FIFO is not full; UTDR
   takes the byte. */
#define UART_BASE 0x80050000u
#define UART_UTCR3 (UART_BASE + 0x0C)
#define UART_UTDR (UART_BASE + 0x14)
#define UART_UTSR1 (UART_BASE + 0x20)
static void uart_init(void) { wr_reg(UART_UTCR3, 0x03); }
static void uart_put(char c) {
  while (!(rd_reg(UART_UTSR1) & 0x04)) {
  }
  wr_reg(UART_UTDR, (unsigned char)c);
}
#endif

/* ---- output ---------------------------------------------------------------------------- */

static void put_str(const char* s) {
  while (*s) uart_put(*s++);
}

static void put_hex(uint32_t v, int digits) {
  static const char hex[] = "0123456789abcdef";
  for (int i = digits - 1; i >= 0; --i) uart_put(hex[(v >> (4 * i)) & 0xF]);
}

static void put_dec(uint32_t v) {
  static const uint32_t powers[] = {1000000000u, 100000000u, 10000000u, 1000000u, 100000u,
                                    10000u,      1000u,      100u,      10u,      1u};
  int started = 0;
  for (unsigned i = 0; i < sizeof powers / sizeof powers[0]; ++i) {
    unsigned d = 0;
    while (v >= powers[i]) {
      v -= powers[i];
      ++d;
    }
    if (d || started || i == 9) {
      uart_put((char)('0' + d));
      started = 1;
    }
  }
}

/* %s, %c, %u, %d, %x (shortest), %08x (eight digits) and %% only. */
static void vout(const char* f, va_list ap) {
  for (; *f; ++f) {
    if (*f != '%') {
      uart_put(*f);
      continue;
    }
    ++f;
    int width = 0;
    if (*f == '0') {
      ++f;
      while (*f >= '0' && *f <= '9') width = width * 10 + (*f++ - '0');
    }
    switch (*f) {
      case 's': put_str(va_arg(ap, const char*)); break;
      case 'c': uart_put((char)va_arg(ap, int)); break;
      case 'u': put_dec(va_arg(ap, uint32_t)); break;
      case 'd': {
        int32_t v = va_arg(ap, int32_t);
        if (v < 0) {
          uart_put('-');
          put_dec(0u - (uint32_t)v);
        } else {
          put_dec((uint32_t)v);
        }
        break;
      }
      case 'x': {
        uint32_t v = va_arg(ap, uint32_t);
        int digits = 1;
        while (digits < 8 && (v >> (4 * digits))) ++digits;
        put_hex(v, width > digits ? width : digits);
        break;
      }
      case '%': uart_put('%'); break;
      default: return;
    }
  }
}

static void out(const char* f, ...) {
  va_list ap;
  va_start(ap, f);
  vout(f, ap);
  va_end(ap);
}

/* ---- checks ---------------------------------------------------------------------------- */

#define MAX_FAILED 16
struct probe {
  unsigned checks, failed;
  const char* failedNames[MAX_FAILED];
};

/* One report line: "probe: NAME: ok DETAIL" or "probe: NAME: FAIL DETAIL". */
static void result(struct probe* p, const char* name, int ok, const char* f, ...) {
  ++p->checks;
  if (!ok) {
    if (p->failed < MAX_FAILED) p->failedNames[p->failed] = name;
    ++p->failed;
  }
  out("probe: %s: %s ", name, ok ? "ok" : "FAIL");
  va_list ap;
  va_start(ap, f);
  vout(f, ap);
  va_end(ap);
  uart_put('\n');
}

static uint32_t rd8(uint32_t a) { return *(const volatile uint8_t*)a; }
static uint32_t rd16(uint32_t a) { return rd8(a) | rd8(a + 1) << 8; }
static uint32_t rd32(uint32_t a) { return rd16(a) | rd16(a + 2) << 16; }

static uint32_t xorshift(uint32_t x) {
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  return x;
}

/* Compares `words` words at `a` with the pattern from `seed`; 0 when they agree, else the
   address of the first word that differs (its value and the expected one in *got, *want). */
static uint32_t pattern_mismatch(uint32_t a, uint32_t words, uint32_t seed, uint32_t* got,
                                 uint32_t* want) {
  uint32_t x = seed;
  for (uint32_t i = 0; i < words; ++i, a += 4) {
    x = xorshift(x);
    uint32_t v = rd32(a);
    if (v != x) {
      *got = v;
      *want = x;
      return a;
    }
  }
  return 0;
}

static int str_eq(uint32_t a, uint32_t limit, const char* s) {
  for (; a < limit; ++a, ++s) {
    if (rd8(a) != (uint8_t)*s) return 0;
    if (!*s) return 1;
  }
  return 0;
}

static int bytes_eq(uint32_t a, const char* s, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i)
    if (rd8(a + i) != (uint8_t)s[i]) return 0;
  return 1;
}

static uint32_t align_up(uint32_t v, uint32_t to) { return (v + to - 1) & ~(to - 1); }

/* The BootArgs page: BootInfo at +16, the argument vector at +52, strings from +116 up to 16
   bytes before the page's end. */
static int check_args(struct probe* p, uint32_t argc, uint32_t argv, uint32_t info,
                      uint32_t* image_arg) {
  uint32_t page = info - 16;
  int layout = (info & 0xFFF) == 16 && argv == info + 36;
  result(p, "bootargs", layout, "page 0x%08x bootinfo 0x%08x argv 0x%08x", page, info, argv);
  if (!layout) return 0;

  int ok = argc >= 1 && argc <= 16;
  uint32_t limit = page + 4096 - 16;
  for (uint32_t i = 0; ok && i < argc; ++i) {
    uint32_t s = rd32(argv + 4 * i);
    uint32_t e = s;
    if (s < page + 116 || s >= limit) {
      ok = 0;
      break;
    }
    while (e < limit && rd8(e)) ++e;
    if (e == limit || (i == 0 && e == s)) ok = 0;
  }
  result(p, "argc", ok, "%u", argc);
  if (!ok) return 0;
  for (uint32_t i = 0; i < argc; ++i) {
    uint32_t s = rd32(argv + 4 * i);
    out("probe: argv[%u] = \"%s\"\n", i, (const char*)s);
    if (rd8(s) == 'm' && rd8(s + 1) == '=') *image_arg = s + 2;
  }
  return 1;
}

static void check_bootinfo(struct probe* p, uint32_t info) {
  uint32_t length = rd16(info), reserved = rd16(info + 2), magic = rd32(info + 4);
  result(p, "bootinfo", length == 36 && reserved == 0 && magic == 0x13536135u,
         "length %u magic 0x%08x", length, magic);

  int32_t kind = (int16_t)rd16(info + 20);
  result(p, "console", (kind == 1 || kind == 2) && rd16(info + 22) == 0, "%d (%s)", kind,
         kind == 1 ? "lcd" : kind == 2 ? "serial" : "unknown");

  uint32_t cpu = rd32(info + 24), machine = rd32(info + 28);
  result(p, "platform", (cpu >> 26) == 3 && ((cpu >> 20) & 0x3F) == PROBE_SERIES && machine != 0,
         "cpu 0x%08x machine 0x%08x", cpu, machine);

  out("probe: framebuffer %dx%d type %d linebytes %d addr 0x%08x timezone %d\n",
      (int32_t)(int16_t)rd16(info + 14), (int32_t)(int16_t)rd16(info + 16),
      (int32_t)(int16_t)rd16(info + 18), (int32_t)(int16_t)rd16(info + 12), rd32(info + 8),
      (int32_t)rd32(info + 32));
}

static void check_data(struct probe* p) {
  uint32_t got = 0, want = 0;
  uint32_t bad = pattern_mismatch((uint32_t)probe_rodata_pattern, 262144, 0x2545F491u, &got, &want);
  if (!bad) bad = pattern_mismatch((uint32_t)probe_data_pattern, 1024, 0x9E3779B9u, &got, &want);
  if (bad)
    result(p, "data", 0, "word at 0x%08x is 0x%08x, expected 0x%08x", bad, got, want);
  else
    result(p, "data", 1, "%u bytes", (uint32_t)(sizeof probe_rodata_pattern + sizeof probe_data_pattern));

  uint32_t a = (uint32_t)__bss_start, e = (uint32_t)__bss_end;
  while (a < e && rd32(a) == 0) a += 4;
  if (a < e)
    result(p, "bss", 0, "word at 0x%08x is 0x%08x", a, rd32(a));
  else
    result(p, "bss", 1, "%u bytes zero", e - (uint32_t)__bss_start);
}

/* The ksyms block right behind the last segment: an ELF header (e_shoff 52; e_entry, e_phoff,
   e_phnum 0), the section headers with sh_offset relative to the block, the section names,
   .symtab and .strtab. Returns the block's end, 0 when it is not there. */
static uint32_t check_ksyms(struct probe* p, uint32_t k) {
  const char* why = 0;
  uint32_t shnum = rd16(k + 48), shstrndx = rd16(k + 50);
  uint32_t symtab = 0, strtab = 0, nonzero = 0, end = 0;

  if (rd32(k) != 0x464C457Fu || rd8(k + 4) != 1 || rd8(k + 5) != 1)
    why = "no ELF header";
  else if (rd32(k + 32) != 52 || rd32(k + 24) != 0 || rd32(k + 28) != 0 || rd16(k + 44) != 0)
    why = "header fields not rewritten";
  else if (rd16(k + 46) != 40 || shnum == 0 || shnum > 64 || shstrndx >= shnum)
    why = "bad section header table";
  if (!why) {
    uint32_t names = k + rd32(k + 52 + 40 * shstrndx + 16);
    uint32_t names_end = names + rd32(k + 52 + 40 * shstrndx + 20);
    for (uint32_t i = 0; i < shnum; ++i) {
      uint32_t sh = k + 52 + 40 * i;
      uint32_t name = names + rd32(sh);
      if (rd32(sh + 16)) ++nonzero;
      if (rd32(sh + 4) == 2 && str_eq(name, names_end, ".symtab")) symtab = sh;
      if (rd32(sh + 4) == 3 && str_eq(name, names_end, ".strtab")) strtab = sh;
    }
    if (!symtab || !strtab)
      why = "no .symtab/.strtab";
    else if (nonzero != 3)
      why = "not exactly three sections with contents";
  }
  if (why) {
    result(p, "ksyms", 0, "at 0x%08x: %s", k, why);
    return 0;
  }

  /* Find two symbols of this very kernel by name and compare with their real addresses. */
  uint32_t syms = k + rd32(symtab + 16), count = rd32(symtab + 20) >> 4;
  uint32_t strs = k + rd32(strtab + 16), strs_end = strs + rd32(strtab + 20);
  uint32_t main_at = 0, bss_at = 0;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t s = syms + 16 * i, name = strs + rd32(s);
    if (str_eq(name, strs_end, "probe_main")) main_at = rd32(s + 4);
    if (str_eq(name, strs_end, "probe_bss")) bss_at = rd32(s + 4);
  }
  end = strs_end;
  int ok = main_at == (uint32_t)probe_main && bss_at == (uint32_t)probe_bss;
  result(p, "ksyms", ok, "at 0x%08x size 0x%x, %u symbols, probe_main at 0x%08x", k, end - k, count,
         main_at);
  return ok ? end : 0;
}

/* The file-system image at the first 4096-aligned address behind the ksyms block. A probe
   image starts with "PROBEIMG", its size and a seed, followed by the pattern words from that
   seed up to its size. Returns the image's end, 0 when it does not check out. */
static uint32_t check_image(struct probe* p, uint32_t at, uint32_t name) {
  uint32_t size = rd32(at + 8), seed = rd32(at + 12);
  if (!bytes_eq(at, "PROBEIMG", 8)) {
    result(p, "image", 0, "at 0x%08x: no probe image header (%s)", at, (const char*)name);
    return 0;
  }
  if (size < 16 || (size & 3) || size > 0x04000000u) {
    result(p, "image", 0, "at 0x%08x: bad size 0x%x", at, size);
    return 0;
  }
  uint32_t got = 0, want = 0;
  uint32_t bad = pattern_mismatch(at + 16, (size - 16) >> 2, seed, &got, &want);
  if (bad) {
    result(p, "image", 0, "word at 0x%08x is 0x%08x, expected 0x%08x", bad, got, want);
    return 0;
  }
  result(p, "image", 1, "at 0x%08x size 0x%x (%s)", at, size, (const char*)name);
  return at + size;
}

static void semihosting_exit(int success) __attribute__((noreturn));
static void semihosting_exit(int success) {
  /* SYS_EXIT (0x18); r1 is the reason: ADP_Stopped_ApplicationExit (0x20026) means success,
     ADP_Stopped_RunTimeErrorUnknown (0x20023) failure. */
  register uint32_t op __asm__("r0") = 0x18;
  register uint32_t reason __asm__("r1") = success ? 0x20026u : 0x20023u;
  __asm__ volatile("svc 0x123456" : : "r"(op), "r"(reason) : "memory");
  for (;;) {
  }
}

void probe_main(uint32_t r0, uint32_t r1, uint32_t r2, uint32_t sp) {
  struct probe p;
  p.checks = 0;
  p.failed = 0;
  uart_init();
  out("probe: " PROBE_FAMILY " kernel at 0x%08x r0=0x%08x r1=0x%08x r2=0x%08x sp=0x%08x\n",
      (uint32_t)_start, r0, r1, r2, sp);

  uint32_t image_arg = 0;
  int args = check_args(&p, r0, r1, r2, &image_arg);
  if (args) check_bootinfo(&p, r2);
  check_data(&p);

  /* What the chain loaded last decides the stack pointer: the image, else the ksyms block,
     else the last segment. */
  uint32_t last_end = (uint32_t)_end;
  uint32_t ksyms_end = check_ksyms(&p, align_up((uint32_t)_end, 4));
  if (ksyms_end) last_end = ksyms_end;
  if (image_arg) {
    uint32_t image_end = check_image(&p, align_up(last_end, 4096), image_arg);
    last_end = image_end;
  } else {
    out("probe: image: none\n");
  }

  if (last_end) {
    uint32_t want = ((last_end + 0x2000) >> 12) << 12;
    result(&p, "sp", sp == want, "0x%08x, expected 0x%08x", sp, want);
  } else {
    result(&p, "sp", 0, "0x%08x, expected value unknown", sp);
  }

  if (p.failed == 0) {
    out("probe: all checks passed\n");
  } else {
    out("probe: FAILED %u of %u checks:", p.failed, p.checks);
    for (unsigned i = 0; i < p.failed && i < MAX_FAILED; ++i) out(" %s", p.failedNames[i]);
    out("\n");
  }
  semihosting_exit(p.failed == 0);
}
