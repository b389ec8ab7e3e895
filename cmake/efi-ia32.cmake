set(KVQ_EFI_TRIPLE i686-unknown-windows)
set(KVQ_EFI_MACHINE x86)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/efi-common.cmake)
