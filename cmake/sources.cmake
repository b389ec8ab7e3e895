# Source lists shared by the host build and the EFI builds.

# Freestanding application code: builds for UEFI and for the host.
set(KVQ_APP_SOURCES
  platform/console.cpp
  platform/format.cpp
  platform/screen.cpp
  platform/flusher.cpp
  platform/runtime.cpp
  platform/firmware.cpp
  platform/paging.cpp
  hw/pci.cpp
  hw/sata.cpp
  hw/disks.cpp
  hw/memio.cpp
  hw/phys.cpp
  hw/nic.cpp
  hw/spi.cpp
  hw/chipset.cpp
  hw/superio.cpp
  data/pci_names.cpp
  data/pci_names_generated.cpp
  data/superio_descriptions.cpp
  data/superio_chip_descriptions.cpp
  app/footer.cpp
  app/grid.cpp
  app/grid_page.cpp
  app/input.cpp
  app/main_loop.cpp
  app/menu.cpp
  pages/pcie_page.cpp
  pages/pcie_caps_page.cpp
  pages/pci_name_lookup.cpp
  pages/space_page.cpp
  pages/memory_page.cpp
  pages/io_page.cpp
  pages/pci_list_page.cpp
  pages/superio_page.cpp
  pages/superio_lookup.cpp
  hw/smbios.cpp
  pages/smbios_page.cpp
  pages/pch_strap_page.cpp
  pages/help_page.cpp
  pages/hdd_page.cpp
  data/pci_other_names.cpp
  data/pci_ids_file.cpp
  platform/text_out.cpp
  hw/acpi.cpp
  pages/acpi_page.cpp
  hw/pci_extended.cpp
  hw/pci_caps.cpp
  data/pci_cap_names.cpp
  app/command_line.cpp
  app/commands.cpp
  app/pci_dump.cpp
  app/acpi_dump.cpp
  hw/cpu.cpp
  data/msr_names.cpp
  pages/cpu_page.cpp
  hw/apic.cpp
  hw/variables.cpp
  app/undo.cpp
  app/var_commands.cpp
  pages/vars_page.cpp
)

# UEFI backend of the hardware seam and the console.
set(KVQ_UEFI_SOURCES
  platform/uefi/entry.cpp
  platform/uefi/hw_uefi.cpp
  platform/uefi/console_uefi.cpp
  platform/uefi/runtime_uefi.cpp
  platform/uefi/firmware_uefi.cpp
  platform/uefi/file_uefi.cpp
  platform/uefi/paging_uefi.cpp
  platform/uefi/nvme_uefi.cpp
  platform/uefi/ata_uefi.cpp
  platform/uefi/cpu_uefi.cpp
  platform/uefi/memory_space_uefi.cpp
  platform/uefi/tcg_uefi.cpp
  platform/uefi/variables_uefi.cpp
  platform/uefi/files_uefi.cpp
)

# Simulated board backend (host only).
set(KVQ_SIM_SOURCES
  platform/sim/board.cpp
  platform/sim/hw_sim.cpp
  platform/sim/firmware_sim.cpp
  platform/sim/pci_devices.cpp
  platform/sim/devices.cpp
  platform/sim/test_console.cpp
  platform/sim/q35.cpp
  platform/sim/superio_chips.cpp
  platform/sim/smbios_tables.cpp
  platform/sim/spi_straps.cpp
  platform/sim/ahci_sim.cpp
  platform/sim/file_sim.cpp
  platform/sim/acpi_tables.cpp
  platform/sim/paging_sim.cpp
  platform/sim/nvme_sim.cpp
  platform/sim/ata_sim.cpp
  platform/sim/cpu_sim.cpp
  platform/sim/cpu_models.cpp
  platform/sim/memory_space_sim.cpp
  platform/sim/apic_sim.cpp
  platform/sim/tcg_sim.cpp
  platform/sim/variables_sim.cpp
  platform/sim/files_sim.cpp
)

# Host terminal helpers shared by kvq-sim and the console bridge.
set(KVQ_HOSTIO_SOURCES)
foreach(f platform/host/xterm_keys.cpp platform/host/raw_terminal.cpp)
  if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/../${f})
    list(APPEND KVQ_HOSTIO_SOURCES ${f})
  endif()
endforeach()
