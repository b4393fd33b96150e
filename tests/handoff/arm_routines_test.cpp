// The small ARM routines of arch/arm, called in unicorn the way the program calls them, in
// System mode. Everything lies above 32 MiB, out of the reach of the FCSE process ID in c13.
#include <unicorn/unicorn.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

#include "arch/arm/blobs.h"

namespace kestrel::arm {
namespace {

constexpr std::uint32_t Code = 0x08001000, Return = 0x08002000, Area = 0x08010000;

class Routine {
 public:
  explicit Routine(int model = UC_CPU_ARM_SA1110) {
    uc_open(UC_ARCH_ARM, UC_MODE_ARM, &uc_);
    uc_ctl_set_cpu_model(uc_, model);
    uc_mem_map(uc_, Code, 0x2000, UC_PROT_ALL);
    uc_mem_map(uc_, Area, 0x20000, UC_PROT_READ | UC_PROT_WRITE);
    uc_hook hook;
    uc_hook_add(uc_, &hook, UC_HOOK_MEM_READ | UC_HOOK_MEM_WRITE, reinterpret_cast<void*>(onAccess), this, Area,
                Area + 0x20000 - 1);
    setCpsr(0x1F);
  }
  ~Routine() { uc_close(uc_); }

  // Runs `code` with r0, r1; true when it returned to the caller.
  bool call(const unsigned char* code, std::size_t size, std::uint32_t r0 = 0, std::uint32_t r1 = 0) {
    uc_mem_write(uc_, Code, code, size);
    // Translated code of the previous call at the same address would run otherwise.
    uc_ctl_remove_cache(uc_, Code, Code + 0x1000);
    std::uint32_t lr = Return;
    uc_reg_write(uc_, UC_ARM_REG_R0, &r0);
    uc_reg_write(uc_, UC_ARM_REG_R1, &r1);
    uc_reg_write(uc_, UC_ARM_REG_LR, &lr);
    if (uc_emu_start(uc_, Code, Return, 0, 100000) != UC_ERR_OK) return false;
    return reg(UC_ARM_REG_PC) == Return;
  }
  std::uint32_t reg(int r) {
    std::uint32_t v = 0;
    uc_reg_read(uc_, r, &v);
    return v;
  }
  void setCpsr(std::uint32_t v) { uc_reg_write(uc_, UC_ARM_REG_CPSR, &v); }
  void setCp15(std::uint32_t n, std::uint32_t value) {
    uc_arm_cp_reg r{};
    r.cp = 15;
    r.crn = n;
    r.val = value;
    uc_reg_write(uc_, UC_ARM_REG_CP_REG, &r);
  }
  std::uint32_t cp15(std::uint32_t n) {
    uc_arm_cp_reg r{};
    r.cp = 15;
    r.crn = n;
    uc_reg_read(uc_, UC_ARM_REG_CP_REG, &r);
    return static_cast<std::uint32_t>(r.val);
  }

  std::vector<std::uint32_t> reads;
  int writes = 0;

 private:
  static void onAccess(uc_engine*, uc_mem_type type, std::uint64_t address, int, std::int64_t, void* self) {
    auto* r = static_cast<Routine*>(self);
    if (type == UC_MEM_WRITE)
      ++r->writes;
    else
      r->reads.push_back(static_cast<std::uint32_t>(address));
  }
  uc_engine* uc_ = nullptr;
};

TEST(ArmRoutines, ReadCp15ReturnsTheRegistersItNamesAndZeroForOthers) {
  for (int model : {UC_CPU_ARM_SA1110, UC_CPU_ARM_PXA255}) {
    Routine r(model);
    // Distinct contents, so that a table entry reading its neighbour shows.
    r.setCp15(2, 0xC0004000u);
    r.setCp15(3, 0x55555555u);
    r.setCp15(5, 0x000000F5u);
    r.setCp15(6, 0x12345678u);
    r.setCp15(13, 0x06000000u);
    std::set<std::uint32_t> distinct;
    for (std::uint32_t n : {0u, 1u, 2u, 3u, 5u, 6u, 13u}) distinct.insert(r.cp15(n));
    ASSERT_EQ(distinct.size(), 7u);
    // c14 (breakpoints) is not modelled by the emulator: the MRC would be undefined there.
    for (std::uint32_t n : {0u, 1u, 2u, 3u, 5u, 6u, 13u}) {
      ASSERT_TRUE(r.call(readCp15, readCp15Size, n)) << n;
      EXPECT_EQ(r.reg(UC_ARM_REG_R0), r.cp15(n)) << "c" << n;
    }
    ASSERT_TRUE(r.call(readCp15, readCp15Size, 0));
    EXPECT_EQ(r.reg(UC_ARM_REG_R0), model == UC_CPU_ARM_SA1110 ? 0x6901B119u : 0x69052D00u);
    for (std::uint32_t n : {4u, 7u, 8u, 9u, 10u, 11u, 12u, 15u, 16u, 0xFFFFFFFFu}) {
      ASSERT_TRUE(r.call(readCp15, readCp15Size, n)) << n;
      EXPECT_EQ(r.reg(UC_ARM_REG_R0), 0u) << "c" << n;
    }
  }
}

TEST(ArmRoutines, CpsrAndInterruptMask) {
  Routine r;
  r.setCpsr(0x6000001F);  // Z and C set, System mode, interrupts on
  ASSERT_TRUE(r.call(readCpsr, readCpsrSize));
  EXPECT_EQ(r.reg(UC_ARM_REG_R0), 0x6000001Fu);
  ASSERT_TRUE(r.call(disableInterrupts, disableInterruptsSize));
  EXPECT_EQ(r.reg(UC_ARM_REG_CPSR) & 0xFF, 0xDFu);
  ASSERT_TRUE(r.call(disableInterrupts, disableInterruptsSize));  // already masked: stays so
  EXPECT_EQ(r.reg(UC_ARM_REG_CPSR) & 0xFF, 0xDFu);
  ASSERT_TRUE(r.call(enableInterrupts, enableInterruptsSize));
  EXPECT_EQ(r.reg(UC_ARM_REG_CPSR) & 0xFF, 0x1Fu);
  r.setCpsr(0x5F);  // F alone: both cleared all the same
  ASSERT_TRUE(r.call(enableInterrupts, enableInterruptsSize));
  EXPECT_EQ(r.reg(UC_ARM_REG_CPSR) & 0xFF, 0x1Fu);
}

TEST(ArmRoutines, CleanDCacheReadsOneWordPer32ByteLineAndWritesNothing) {
  for (std::uint32_t bytes : {8192u, 65536u, 0u}) {
    Routine r;
    ASSERT_TRUE(r.call(cleanDCache, cleanDCacheSize, Area, bytes));
    ASSERT_EQ(r.reads.size(), bytes / 32) << bytes;
    for (std::size_t i = 0; i < r.reads.size(); ++i) ASSERT_EQ(r.reads[i], Area + 32 * i);
    EXPECT_EQ(r.writes, 0);
  }
}

}  // namespace
}  // namespace kestrel::arm
