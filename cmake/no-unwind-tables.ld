/* Added to the default linker script (INSERT): the launcher is built without
   exceptions, and its own objects carry no unwind tables, but the C runtime's
   startup objects bring .eh_frame tables that nothing reads. They go, and so
   does the constructor of crtend.o whose only task is to hand those tables to
   libgcc's unwinder when a libgcc DLL is already loaded. */
SECTIONS
{
  /DISCARD/ : { *(.eh_frame*) *crtend.o(.ctors.65535) }
}
INSERT BEFORE .text;
