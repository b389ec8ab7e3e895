#include "data/msr_names.h"

namespace kvq::data {
namespace {

// One name, or a run of `count` registers `stride` apart whose names differ
// only in the number that '#' stands for (0, 1, ...).
struct MsrNameRow {
  uint32_t first;
  uint8_t count;
  uint8_t stride;
  const char* name;
};

constexpr MsrNameRow msr(uint32_t index, const char* name) {
  return {.first = index, .count = 1, .stride = 1, .name = name};
}
constexpr MsrNameRow run(uint32_t first, uint8_t count, uint8_t stride, const char* name) {
  return {.first = first, .count = count, .stride = stride, .name = name};
}

constexpr MsrNameRow kMsrNames[] = {
    msr(0x000, "IA32_P5_MC_ADDR"),
    msr(0x001, "IA32_P5_MC_TYPE"),
    msr(0x006, "IA32_MONITOR_FILTER_SIZE"),
    msr(0x010, "IA32_TIME_STAMP_COUNTER"),
    msr(0x017, "IA32_PLATFORM_ID"),
    msr(0x01B, "IA32_APIC_BASE"),
    msr(0x03A, "IA32_FEATURE_CONTROL"),
    msr(0x03B, "IA32_TSC_ADJUST"),
    msr(0x048, "IA32_SPEC_CTRL"),
    msr(0x049, "IA32_PRED_CMD"),
    msr(0x04E, "IA32_PPIN_CTL"),
    msr(0x04F, "IA32_PPIN"),
    msr(0x079, "IA32_BIOS_UPDT_TRIG"),
    msr(0x08B, "IA32_BIOS_SIGN_ID"),
    run(0x08C, 4, 1, "IA32_SGXLEPUBKEYHASH#"),
    msr(0x09B, "IA32_SMM_MONITOR_CTL"),
    msr(0x09E, "IA32_SMBASE"),
    msr(0x0BC, "IA32_MISC_PACKAGE_CTLS"),
    run(0x0C1, 8, 1, "IA32_PMC#"),
    msr(0x0CF, "IA32_CORE_CAPABILITIES"),
    msr(0x0E1, "IA32_UMWAIT_CONTROL"),
    msr(0x0E7, "IA32_MPERF"),
    msr(0x0E8, "IA32_APERF"),
    msr(0x0FE, "IA32_MTRRCAP"),
    msr(0x10A, "IA32_ARCH_CAPABILITIES"),
    msr(0x10B, "IA32_FLUSH_CMD"),
    msr(0x10F, "IA32_TSX_FORCE_ABORT"),
    msr(0x122, "IA32_TSX_CTRL"),
    msr(0x174, "IA32_SYSENTER_CS"),
    msr(0x175, "IA32_SYSENTER_ESP"),
    msr(0x176, "IA32_SYSENTER_EIP"),
    msr(0x179, "IA32_MCG_CAP"),
    msr(0x17A, "IA32_MCG_STATUS"),
    msr(0x17B, "IA32_MCG_CTL"),
    run(0x186, 8, 1, "IA32_PERFEVTSEL#"),
    msr(0x195, "IA32_OVERCLOCKING_STATUS"),
    msr(0x198, "IA32_PERF_STATUS"),
    msr(0x199, "IA32_PERF_CTL"),
    msr(0x19A, "IA32_CLOCK_MODULATION"),
    msr(0x19B, "IA32_THERM_INTERRUPT"),
    msr(0x19C, "IA32_THERM_STATUS"),
    msr(0x1A0, "IA32_MISC_ENABLE"),
    msr(0x1B0, "IA32_ENERGY_PERF_BIAS"),
    msr(0x1B1, "IA32_PACKAGE_THERM_STATUS"),
    msr(0x1B2, "IA32_PACKAGE_THERM_INTERRUPT"),
    msr(0x1D9, "IA32_DEBUGCTL"),
    msr(0x1F2, "IA32_SMRR_PHYSBASE"),
    msr(0x1F3, "IA32_SMRR_PHYSMASK"),
    msr(0x1F8, "IA32_PLATFORM_DCA_CAP"),
    msr(0x1F9, "IA32_CPU_DCA_CAP"),
    msr(0x1FA, "IA32_DCA_0_CAP"),
    run(0x200, 10, 2, "IA32_MTRR_PHYSBASE#"),
    run(0x201, 10, 2, "IA32_MTRR_PHYSMASK#"),
    msr(0x250, "IA32_MTRR_FIX64K_00000"),
    msr(0x258, "IA32_MTRR_FIX16K_80000"),
    msr(0x259, "IA32_MTRR_FIX16K_A0000"),
    msr(0x268, "IA32_MTRR_FIX4K_C0000"),
    msr(0x269, "IA32_MTRR_FIX4K_C8000"),
    msr(0x26A, "IA32_MTRR_FIX4K_D0000"),
    msr(0x26B, "IA32_MTRR_FIX4K_D8000"),
    msr(0x26C, "IA32_MTRR_FIX4K_E0000"),
    msr(0x26D, "IA32_MTRR_FIX4K_E8000"),
    msr(0x26E, "IA32_MTRR_FIX4K_F0000"),
    msr(0x26F, "IA32_MTRR_FIX4K_F8000"),
    msr(0x277, "IA32_PAT"),
    run(0x280, 32, 1, "IA32_MC#_CTL2"),
    msr(0x2FF, "IA32_MTRR_DEF_TYPE"),
    run(0x309, 4, 1, "IA32_FIXED_CTR#"),
    msr(0x345, "IA32_PERF_CAPABILITIES"),
    msr(0x38D, "IA32_FIXED_CTR_CTRL"),
    msr(0x38E, "IA32_PERF_GLOBAL_STATUS"),
    msr(0x38F, "IA32_PERF_GLOBAL_CTRL"),
    msr(0x390, "IA32_PERF_GLOBAL_STATUS_RESET"),
    msr(0x391, "IA32_PERF_GLOBAL_STATUS_SET"),
    msr(0x392, "IA32_PERF_GLOBAL_INUSE"),
    msr(0x3F1, "IA32_PEBS_ENABLE"),
    run(0x400, 29, 4, "IA32_MC#_CTL"),
    run(0x401, 29, 4, "IA32_MC#_STATUS"),
    run(0x402, 29, 4, "IA32_MC#_ADDR"),
    run(0x403, 29, 4, "IA32_MC#_MISC"),
    msr(0x480, "IA32_VMX_BASIC"),
    msr(0x481, "IA32_VMX_PINBASED_CTLS"),
    msr(0x482, "IA32_VMX_PROCBASED_CTLS"),
    msr(0x483, "IA32_VMX_EXIT_CTLS"),
    msr(0x484, "IA32_VMX_ENTRY_CTLS"),
    msr(0x485, "IA32_VMX_MISC"),
    msr(0x486, "IA32_VMX_CR0_FIXED0"),
    msr(0x487, "IA32_VMX_CR0_FIXED1"),
    msr(0x488, "IA32_VMX_CR4_FIXED0"),
    msr(0x489, "IA32_VMX_CR4_FIXED1"),
    msr(0x48A, "IA32_VMX_VMCS_ENUM"),
    msr(0x48B, "IA32_VMX_PROCBASED_CTLS2"),
    msr(0x48C, "IA32_VMX_EPT_VPID_CAP"),
    msr(0x48D, "IA32_VMX_TRUE_PINBASED_CTLS"),
    msr(0x48E, "IA32_VMX_TRUE_PROCBASED_CTLS"),
    msr(0x48F, "IA32_VMX_TRUE_EXIT_CTLS"),
    msr(0x490, "IA32_VMX_TRUE_ENTRY_CTLS"),
    msr(0x491, "IA32_VMX_VMFUNC"),
    msr(0x492, "IA32_VMX_PROCBASED_CTLS3"),
    run(0x4C1, 8, 1, "IA32_A_PMC#"),
    msr(0x4D0, "IA32_MCG_EXT_CTL"),
    msr(0x500, "IA32_SGX_SVN_STATUS"),
    msr(0x560, "IA32_RTIT_OUTPUT_BASE"),
    msr(0x561, "IA32_RTIT_OUTPUT_MASK_PTRS"),
    msr(0x570, "IA32_RTIT_CTL"),
    msr(0x571, "IA32_RTIT_STATUS"),
    msr(0x572, "IA32_RTIT_CR3_MATCH"),
    run(0x580, 4, 2, "IA32_RTIT_ADDR#_A"),
    run(0x581, 4, 2, "IA32_RTIT_ADDR#_B"),
    msr(0x600, "IA32_DS_AREA"),
    msr(0x6A0, "IA32_U_CET"),
    msr(0x6A2, "IA32_S_CET"),
    run(0x6A4, 4, 1, "IA32_PL#_SSP"),
    msr(0x6A8, "IA32_INTERRUPT_SSP_TABLE_ADDR"),
    msr(0x6E0, "IA32_TSC_DEADLINE"),
    msr(0x6E1, "IA32_PKRS"),
    msr(0x770, "IA32_PM_ENABLE"),
    msr(0x771, "IA32_HWP_CAPABILITIES"),
    msr(0x772, "IA32_HWP_REQUEST_PKG"),
    msr(0x773, "IA32_HWP_INTERRUPT"),
    msr(0x774, "IA32_HWP_REQUEST"),
    msr(0x777, "IA32_HWP_STATUS"),
    msr(0x802, "IA32_X2APIC_APICID"),
    msr(0x803, "IA32_X2APIC_VERSION"),
    msr(0x808, "IA32_X2APIC_TPR"),
    msr(0x80A, "IA32_X2APIC_PPR"),
    msr(0x80B, "IA32_X2APIC_EOI"),
    msr(0x80D, "IA32_X2APIC_LDR"),
    msr(0x80F, "IA32_X2APIC_SIVR"),
    run(0x810, 8, 1, "IA32_X2APIC_ISR#"),
    run(0x818, 8, 1, "IA32_X2APIC_TMR#"),
    run(0x820, 8, 1, "IA32_X2APIC_IRR#"),
    msr(0x828, "IA32_X2APIC_ESR"),
    msr(0x82F, "IA32_X2APIC_LVT_CMCI"),
    msr(0x830, "IA32_X2APIC_ICR"),
    msr(0x832, "IA32_X2APIC_LVT_TIMER"),
    msr(0x833, "IA32_X2APIC_LVT_THERMAL"),
    msr(0x834, "IA32_X2APIC_LVT_PMI"),
    msr(0x835, "IA32_X2APIC_LVT_LINT0"),
    msr(0x836, "IA32_X2APIC_LVT_LINT1"),
    msr(0x837, "IA32_X2APIC_LVT_ERROR"),
    msr(0x838, "IA32_X2APIC_INIT_COUNT"),
    msr(0x839, "IA32_X2APIC_CUR_COUNT"),
    msr(0x83E, "IA32_X2APIC_DIV_CONF"),
    msr(0x83F, "IA32_X2APIC_SELF_IPI"),
    msr(0xC80, "IA32_DEBUG_INTERFACE"),
    msr(0xC81, "IA32_L3_QOS_CFG"),
    msr(0xC82, "IA32_L2_QOS_CFG"),
    msr(0xC8D, "IA32_QM_EVTSEL"),
    msr(0xC8E, "IA32_QM_CTR"),
    msr(0xC8F, "IA32_PQR_ASSOC"),
    run(0xC90, 16, 1, "IA32_L3_QOS_MASK_#"),
    run(0xD10, 16, 1, "IA32_L2_QOS_MASK_#"),
    msr(0xD90, "IA32_BNDCFGS"),
    msr(0xDA0, "IA32_XSS"),
    msr(0xDB0, "IA32_PKG_HDC_CTL"),
    msr(0xDB1, "IA32_PM_CTL1"),
    msr(0xDB2, "IA32_THREAD_STALL"),
    run(0x1200, 32, 1, "IA32_LBR_#_INFO"),
    msr(0x14CE, "IA32_LBR_CTL"),
    msr(0x14CF, "IA32_LBR_DEPTH"),
    run(0x1500, 32, 1, "IA32_LBR_#_FROM_IP"),
    run(0x1600, 32, 1, "IA32_LBR_#_TO_IP"),
    msr(0x1B01, "IA32_UARCH_MISC_CTL"),
    // AMD64: the long-mode registers, then the system configuration, SMM,
    // SVM and performance registers.
    msr(0xC0000080, "EFER"),
    msr(0xC0000081, "STAR"),
    msr(0xC0000082, "LSTAR"),
    msr(0xC0000083, "CSTAR"),
    msr(0xC0000084, "SF_MASK"),
    msr(0xC0000100, "FS_BASE"),
    msr(0xC0000101, "GS_BASE"),
    msr(0xC0000102, "KERNEL_GS_BASE"),
    msr(0xC0000103, "TSC_AUX"),
    msr(0xC0000104, "TSC_RATIO"),
    run(0xC0010000, 4, 1, "PERF_EVT_SEL#"),
    run(0xC0010004, 4, 1, "PERF_CTR#"),
    msr(0xC0010010, "SYSCFG"),
    msr(0xC0010015, "HWCR"),
    run(0xC0010016, 2, 2, "IORR_BASE#"),
    run(0xC0010017, 2, 2, "IORR_MASK#"),
    msr(0xC001001A, "TOP_MEM"),
    msr(0xC001001D, "TOP_MEM2"),
    msr(0xC0010111, "SMM_BASE"),
    msr(0xC0010112, "SMM_ADDR"),
    msr(0xC0010113, "SMM_MASK"),
    msr(0xC0010114, "VM_CR"),
    msr(0xC0010115, "IGNNE"),
    msr(0xC0010116, "SMM_CTL"),
    msr(0xC0010117, "VM_HSAVE_PA"),
    msr(0xC0010118, "SVM_KEY"),
    msr(0xC0010130, "GHCB"),
    msr(0xC0010131, "SEV_STATUS"),
    msr(0xC0010140, "OSVW_ID_LENGTH"),
    msr(0xC0010141, "OSVW_STATUS"),
    run(0xC0010200, 6, 2, "CORE_PERF_EVT_SEL#"),
    run(0xC0010201, 6, 2, "CORE_PERF_CTR#"),
};

constexpr uint32_t last_of(const MsrNameRow& r) { return r.first + static_cast<uint32_t>(r.count - 1) * r.stride; }

constexpr bool names_index(const MsrNameRow& r, uint32_t index) {
  return index >= r.first && index <= last_of(r) && (index - r.first) % r.stride == 0;
}

constexpr int digits(int n) { return n < 10 ? 1 : 1 + digits(n / 10); }

// A run has its '#', a single name none, and with the number filled in it
// fits the row.
constexpr bool name_fits(const MsrNameRow& r) {
  int marks = 0;
  int length = 0;
  for (const char* c = r.name; *c != 0; ++c, ++length) marks += *c == '#' ? 1 : 0;
  if (r.count == 0 || r.stride == 0 || marks != (r.count > 1 ? 1 : 0)) return false;
  return length - marks + (marks ? digits(r.count - 1) : 0) <= kMaxMsrName;
}

// Rows ascend by their first index, no run wraps past FFFFFFFFh, no index
// has two names (runs that interleave, as the MTRR and machine-check
// banks do, are checked index by index), and every name fits.
constexpr bool msr_names_sound() {
  constexpr int n = sizeof(kMsrNames) / sizeof(kMsrNames[0]);
  for (int i = 0; i < n; ++i) {
    const MsrNameRow& a = kMsrNames[i];
    if (!name_fits(a) || last_of(a) < a.first) return false;
    if (i > 0 && a.first <= kMsrNames[i - 1].first) return false;
    for (int j = i + 1; j < n && kMsrNames[j].first <= last_of(a); ++j) {
      for (int k = 0; k < a.count; ++k) {
        if (names_index(kMsrNames[j], a.first + static_cast<uint32_t>(k) * a.stride)) return false;
      }
    }
  }
  return true;
}
static_assert(msr_names_sound());

}  // namespace

bool msr_name(uint32_t index, char* out) {
  for (const MsrNameRow& r : kMsrNames) {
    if (!names_index(r, index)) continue;
    const int number = static_cast<int>((index - r.first) / r.stride);
    int n = 0;
    for (const char* c = r.name; *c != 0; ++c) {
      if (*c != '#') {
        out[n++] = *c;
        continue;
      }
      for (int d = digits(number) - 1, v = number; d >= 0; --d, v /= 10) out[n + d] = static_cast<char>('0' + v % 10);
      n += digits(number);
    }
    out[n] = 0;
    return true;
  }
  return false;
}

}  // namespace kvq::data
