# parlen_documents_importers: the documents library with every importer linked. Until the
# PDF importer is part of the tree, a stand-in that refuses PDF files takes its place; it
# drops out once documents/Pdf*.cpp exists.
if(NOT TARGET parlen_documents_importers)
  add_library(parlen_documents_importers INTERFACE)
  target_link_libraries(parlen_documents_importers INTERFACE parlen_documents)
  file(GLOB parlen_pdf_importer ${CMAKE_SOURCE_DIR}/documents/Pdf*.cpp)
  if(NOT parlen_pdf_importer)
    target_sources(parlen_documents_importers INTERFACE
                   ${CMAKE_SOURCE_DIR}/tests/documents/NoPdfImporter.cpp)
  endif()
endif()
