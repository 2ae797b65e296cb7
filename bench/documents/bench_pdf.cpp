// bench_pdf [PAGES [PAIRS [FILE]]]: imports a long book printed by the fixtures (PAGES pages,
// 300 unless given) and runs pdftotext on it, in alternated pairs, each in a process of
// its own started the same way (fork, then the import, or exec of pdftotext), so that
// both pay for loading poppler. Prints each pair and the median ratio of pdftotext's
// time to the import's: the import's speed as a share of pdftotext's. With FILE the
// book is kept there.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "PdfFixtures.h"
#include "documents/Import.h"
#include "support/Errors.h"

extern char** environ;

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Runs work in a child process and returns its wall time; exits on a failure.
template <class Work>
double InChild(Work&& work) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) ::_exit(work());
    int status = 0;
    ::waitpid(child, &status, 0);
    const double seconds = Seconds(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "a timed run failed\n");
        std::exit(1);
    }
    return seconds;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    const int pages = argc > 1 ? std::atoi(argv[1]) : 300;
    const int pairs = std::max(1, argc > 2 ? std::atoi(argv[2]) : 9);
    const std::filesystem::path dir = std::filesystem::temp_directory_path();
    const std::string pdf =
        argc > 3 ? argv[3] : (dir / ("bench-pdf-" + std::to_string(::getpid()) + ".pdf")).string();
    const std::string txt = pdf + ".txt";
    // Printed in a child: the timed processes start without a Qt application, as
    // parlen-say does.
    InChild([&] {
        std::ofstream(pdf, std::ios::binary) << pdf_fixtures::MakeLongBook(pages);
        return 0;
    });
    size_t words = 0;
    try {
        words = documents::CountWords(documents::ImportFile(pdf).text);
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    const auto ours = [&] {
        return InChild([&] {
            try {
                return documents::ImportFile(pdf).text.empty() ? 1 : 0;
            } catch (const Exception&) {
                return 1;
            }
        });
    };
    const auto theirs = [&] {
        return InChild([&] {
            const char* args[] = {"pdftotext", "-q", pdf.c_str(), txt.c_str(), nullptr};
            ::execvp(args[0], const_cast<char**>(args));
            return 127;
        });
    };
    std::printf("%d pages, %zu words imported\npair  import_s  pdftotext_s  ratio\n", pages, words);
    std::vector<double> ratios;
    for (int i = 0; i < pairs; ++i) {
        double a = 0, b = 0;
        if (i % 2)
            a = ours(), b = theirs();
        else
            b = theirs(), a = ours();
        ratios.push_back(b / a);
        std::printf("%4d  %8.3f  %11.3f  %5.2f\n", i + 1, a, b, b / a);
    }
    std::printf("median speed of the import against pdftotext: %.2f\n", Median(ratios));
    if (argc <= 3) std::filesystem::remove(pdf);
    std::filesystem::remove(txt);
}
