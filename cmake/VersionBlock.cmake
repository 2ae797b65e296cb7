# The application's version block: built at build time by a host tool in the
# published binary format and embedded into executables as the ELF section
# ".parlen_version", where the version reader finds it in the file itself.
#
#   parlen_embed_version_block(<target>)

add_executable(mkversionblock ${CMAKE_SOURCE_DIR}/tools/mkversionblock.cpp)

set(PARLEN_VERSION_BLOCK ${CMAKE_BINARY_DIR}/generated/parlen_version.bin)
set(PARLEN_PRODUCT_VERSION "2004.05")
add_custom_command(
  OUTPUT ${PARLEN_VERSION_BLOCK}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/generated
  COMMAND mkversionblock ${PARLEN_VERSION_BLOCK} ${PROJECT_VERSION} ${PROJECT_VERSION}
    "Comments=Speaks text aloud or into WAV files"
    "CompanyName=${PARLEN_MAKER_SITE}"
    "FileDescription=Parlen Maker text-to-speech converter"
    "FileVersion=${PROJECT_VERSION}"
    "InternalName=PARLENMAKER"
    "LegalCopyright=Copyright (C) 2004 ${PARLEN_MAKER_SITE}"
    "LegalTrademarks=Parlen Maker"
    "OriginalFilename=PARLENMAKER.EXE"
    "ProductName=${PARLEN_MAKER_SITE} - Parlen Maker"
    "ProductVersion=${PARLEN_PRODUCT_VERSION}"
  DEPENDS mkversionblock
  COMMENT "Building the version block"
  VERBATIM)

# The section is allocated so that stripping the executable keeps it.
set(PARLEN_VERSION_SECTION_SOURCE ${CMAKE_BINARY_DIR}/generated/parlen_version_section.cpp)
file(CONFIGURE OUTPUT ${PARLEN_VERSION_SECTION_SOURCE} CONTENT
"// Generated: places the version block into its own section of the executable.
asm(\".pushsection .parlen_version, \\\"a\\\"\\n\"
    \".incbin \\\"@PARLEN_VERSION_BLOCK@\\\"\\n\"
    \".popsection\\n\");
" @ONLY)
set_source_files_properties(${PARLEN_VERSION_SECTION_SOURCE} PROPERTIES
  OBJECT_DEPENDS ${PARLEN_VERSION_BLOCK})
add_library(parlen_version_section OBJECT ${PARLEN_VERSION_SECTION_SOURCE})

function(parlen_embed_version_block target)
  # Object files are always linked in whole, so the section cannot be dropped.
  target_link_libraries(${target} PRIVATE parlen_version_section)
endfunction()
