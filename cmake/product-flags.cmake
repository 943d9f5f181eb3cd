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

# The load configuration, launcher/LoadConfig.cpp, is referenced by no code:
# the link keeps it by its name (with i386's leading underscore), and GNU ld
# 2.40 leaves the image's directory of it empty, which set_load_config.py
# fills in from the link map.
set(QUENDRUN_CMAKE_DIR ${CMAKE_CURRENT_LIST_DIR})
find_package(Python3 REQUIRED COMPONENTS Interpreter)
function(quendrun_load_config target map)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(symbol __load_config_used)
  else()
    set(symbol _load_config_used)
  endif()
  target_link_options(${target} PRIVATE -Wl,--require-defined=${symbol} -Wl,-Map,${map})
  add_custom_command(TARGET ${target} POST_BUILD VERBATIM
    COMMAND ${Python3_EXECUTABLE} ${QUENDRUN_CMAKE_DIR}/set_load_config.py $<TARGET_FILE:${target}> ${map})
endfunction()
