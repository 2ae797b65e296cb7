/* The x86-64 linker has no default script for 32-bit PE images; resources are all we link. */
SECTIONS {
  . = SIZEOF_HEADERS;
  . = ALIGN(__section_alignment__);
  .rsrc __image_base__ + . : { *(.rsrc) *(.rsrc$*) }
}
