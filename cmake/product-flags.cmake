# How the product is built, for the builds that must match it: the stack
# guard's test helper, and the benchmark's build of the launcher without it.
#
# The guard goes into every function with a local array or a local whose
# address is taken; its seed and failure path are launcher/StackGuard.cpp. The
# image registers no SEH handler, and says so.
set(QUENDRUN_STACK_GUARD -fstack-protector-strong)
set(QUENDRUN_COMPILE_OPTIONS -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
  -ffunction-sections -fdata-sections)
set(QUENDRUN_LINK_OPTIONS -mwindows -s -static-libgcc -static-libstdc++ -Wl,--no-seh
  -Wl,--gc-sections -Wl,--no-insert-timestamp -Wl,-T,${CMAKE_CURRENT_LIST_DIR}/no-unwind-tables.ld)
