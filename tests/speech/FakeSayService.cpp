// The recording speech service in place of the real one, for running the command-line
// driver in tests. PARLEN_FAKE_FAIL="Object.Method=HEXCODE[,...]" plans failures;
// PARLEN_FAKE_LOG names a file that receives the call log at exit.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FakeSpeechService.h"
#include "platform/service/SpeechService.h"

namespace {
FakeSpeechService* service = nullptr;

void WriteLog() {
    const char* path = std::getenv("PARLEN_FAKE_LOG");
    if (!path || !service) return;
    if (FILE* f = std::fopen(path, "w")) {
        for (const std::string& e : service->log) std::fprintf(f, "%s\n", e.c_str());
        std::fclose(f);
    }
}
}  // namespace

void RegisterAudioDestinations() {}

void SetRenderJobs(unsigned jobs) {
    if (service) service->log.push_back("render jobs " + std::to_string(jobs));
}

void RegisterSpeechService() {
    // Lives for the whole process: objects it made may be released at any time.
    service = new FakeSpeechService();
    service->autoPlay = true;
    FakeMode alpha;
    alpha.name = "Fake Alpha";
    FakeMode beta;
    beta.name = "Fake Beta";
    beta.gender = GENDER_MALE;
    beta.dialect = "German";
    service->modes = {alpha, beta};
    // PARLEN_FAKE_UNTIMED="word,word": words played without a time mark.
    if (const char* untimed = std::getenv("PARLEN_FAKE_UNTIMED")) {
        std::string rest = untimed;
        for (size_t comma; !rest.empty();
             rest = comma == std::string::npos ? "" : rest.substr(comma + 1)) {
            comma = rest.find(',');
            service->untimedWords.push_back(rest.substr(0, comma));
        }
    }
    if (const char* plan = std::getenv("PARLEN_FAKE_FAIL")) {
        std::string rest = plan;
        while (!rest.empty()) {
            const size_t comma = rest.find(',');
            const std::string item = rest.substr(0, comma);
            rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
            const size_t eq = item.find('=');
            if (eq == std::string::npos) continue;
            const auto code = static_cast<uint32_t>(std::stoul(item.substr(eq + 1), nullptr, 16));
            service->FailAt(item.substr(0, eq), MakeResult(code), 0);
        }
    }
    std::atexit(WriteLog);
}
