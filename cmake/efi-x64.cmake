set(KVQ_EFI_TRIPLE x86_64-unknown-windows)
set(KVQ_EFI_MACHINE x64)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/efi-common.cmake)
