#pragma once
// Reading a PDF's pages through the reader of libparlen_pdf.so. Poppler takes most of
// an import's time; with a processor free, most of a long document is read by a child
// process (a fork, which runs nothing but the reader and ends) while this one reads the
// first pages and then loads what the clean-up needs (a dictionary takes as long as
// twenty pages).
#include <functional>
#include <mutex>
#include <vector>

#include "documents/Importers.h"
#include "documents/pdf/PdfEntry.h"

namespace documents {

// How many processes read: one, two, or two when the document is long and a processor
// is free (each process parses the objects the pages share again: two take a quarter
// more processor time in all, worth it only on a processor that would stay idle).
enum class Readers { One, Two, AsTheMachineAllows };

// Every page in order; refuses a page that cannot be read. Reports progress per page.
// meanwhile is called with the pages this process read (the first ones) while the child
// still reads the rest: work that needs no more than those can be done at the same time.
std::vector<pdf_bridge::Page> ReadPdfPages(
    const pdf_bridge::Entry& reader, pdf_bridge::Document* document, int count,
    const Source& source,
    const std::function<void(const std::vector<pdf_bridge::Page>&, int read)>& meanwhile,
    Readers readers = Readers::AsTheMachineAllows);

// Held by every call into the reader: a fork while another thread is inside poppler
// would leave the child with poppler's locks taken for good.
std::mutex& PdfReaderMutex();
template <class Call>
auto WithPdfReader(Call&& call) {
    const std::lock_guard lock(PdfReaderMutex());
    return call();
}

// A page as bytes and back, as the child hands its pages over; false for bytes that
// do not hold a whole page.
void AppendPage(std::string& out, const pdf_bridge::Page& page);
bool TakePage(std::string_view& in, pdf_bridge::Page& page);

}  // namespace documents
