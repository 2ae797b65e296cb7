# parlen_documents_importers: the documents library with every importer linked. Until the
# PDF importer is part of the tree, a stand-in that refuses PDF files takes its place; it
# drops out once a source of documents/ defines ImportPdf.
if(NOT TARGET parlen_documents_importers)
  add_library(parlen_documents_importers INTERFACE)
  target_link_libraries(parlen_documents_importers INTERFACE parlen_documents)
  file(GLOB_RECURSE parlen_document_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/documents/*.cpp)
  set(parlen_pdf_importer OFF)
  foreach(source ${parlen_document_sources})
    file(STRINGS ${source} defines REGEX "^Document ImportPdf\\(")
    if(defines)
      set(parlen_pdf_importer ON)
    endif()
  endforeach()
  if(NOT parlen_pdf_importer)
    target_sources(parlen_documents_importers INTERFACE
                   ${CMAKE_SOURCE_DIR}/tests/documents/NoPdfImporter.cpp)
  endif()
endif()
