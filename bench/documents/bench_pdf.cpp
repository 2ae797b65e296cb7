// bench_pdf [PAGES [PAIRS [FILE]]]: imports a long book printed by the fixtures (PAGES pages,
// 300 unless given) and runs pdftotext on it, in alternated pairs, each in a process of
// its own started the same way (fork, then the import, or exec of pdftotext), so that
// both pay for loading poppler. Prints each pair and the median ratio of pdftotext's
// time to the import's: the import's speed as a share of pdftotext's. With FILE the
// book is kept there; a FILE that exists already is timed as it is.
#include <spawn.h>
#include <sys/resource.h>
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

struct Times {
    double wall, cpu;  // cpu: user and system, with the processes it started
};

// Runs work in a child process and returns its times; exits on a failure.
template <class Work>
Times InChild(Work&& work) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) ::_exit(work());
    int status = 0;
    struct rusage usage {};
    ::wait4(child, &status, 0, &usage);
    const double seconds = Seconds(start);
    const auto cpu = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
    };
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "a timed run failed\n");
        std::exit(1);
    }
    return {seconds, cpu(usage.ru_utime) + cpu(usage.ru_stime)};
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
    const bool given = argc > 3 && std::filesystem::exists(pdf);
    if (!given)
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
    std::printf(
        "%s: %zu words imported\n"
        "pair  import_s  pdftotext_s  ratio  import_cpu_s  pdftotext_cpu_s\n",
        given ? pdf.c_str() : (std::to_string(pages) + " pages printed").c_str(), words);
    std::vector<double> ratios, cpuRatios;
    for (int i = 0; i < pairs; ++i) {
        Times a{}, b{};
        if (i % 2)
            a = ours(), b = theirs();
        else
            b = theirs(), a = ours();
        ratios.push_back(b.wall / a.wall);
        cpuRatios.push_back(b.cpu / a.cpu);
        std::printf("%4d  %8.3f  %11.3f  %5.2f  %12.3f  %15.3f\n", i + 1, a.wall, b.wall,
                    b.wall / a.wall, a.cpu, b.cpu);
    }
    std::printf("median speed of the import against pdftotext: %.2f (in processor time %.2f)\n",
                Median(ratios), Median(cpuRatios));
    if (argc <= 3) std::filesystem::remove(pdf);
    std::filesystem::remove(txt);
}
