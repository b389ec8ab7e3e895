# Cross-compiling to a UEFI application: clang++ for a Windows target (PE/COFF
# objects, Microsoft x64 calling convention on x86-64), linked by lld-link.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET ${KVQ_EFI_TRIPLE})
# No C library to link a test program against.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
