// Logger::log of a typical line, next to a bare write(2) of the same bytes to
// a file of the same kind in the same folder. The logger also echoes each
// line to standard error, sent to /dev/null here; the second baseline adds
// that write so the cost of formatting and locking stands alone.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tether/tether.h"

namespace {

tq::Interface* g_tether = nullptr;
const int s_registered = __Init_CD_Later__(&g_tether);

constexpr const char* kFormat = "%s[I][tq] %s %-4d: \"frame=%d size=%dx%d fps=%d\"\n";
constexpr const char* kStamp = "0510-14:03:27";
constexpr const char* kFile = "stream_receiver.cpp";

// One Tether over a temporary data folder for the whole run.
class BenchTether {
public:
    static BenchTether& instance() {
        static BenchTether tether;
        return tether;
    }

    tq::Logger& logger() { return *g_tether->logger; }
    std::string folder() const { return folder_.path().toStdString(); }
    const std::string& line() const { return line_; }

private:
    BenchTether() {
        (void)s_registered;
        setenv("XDG_DATA_HOME", folder_.path().toUtf8().constData(), 1);
        setenv("XDG_CONFIG_HOME", folder_.path().toUtf8().constData(), 1);
        tq::InitTether(0, nullptr);
        char text[256];
        snprintf(text, sizeof text, kFormat, kStamp, kFile, 214, 1234, 1920, 1080, 30);
        line_ = text;
    }
    ~BenchTether() { tq::UninitTether(); }

    QTemporaryDir folder_;
    std::string line_;
};

// Points standard error at /dev/null for as long as it lives.
class QuietStderr {
public:
    QuietStderr() : saved_(dup(STDERR_FILENO)) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        close(null);
    }
    ~QuietStderr() {
        dup2(saved_, STDERR_FILENO);
        close(saved_);
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    const int saved_;
};

int openAppending(const std::string& path) { return open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644); }

void BM_WriteBaseline(benchmark::State& state) {
    BenchTether& tether = BenchTether::instance();
    const int file = openAppending(tether.folder() + "/baseline.log");
    const std::string& line = tether.line();
    for (auto _ : state) benchmark::DoNotOptimize(write(file, line.data(), line.size()));
    close(file);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * line.size()));
    state.SetLabel(std::to_string(line.size()) + " bytes");
}
BENCHMARK(BM_WriteBaseline);

void BM_WriteBaselinePlusDevNull(benchmark::State& state) {
    BenchTether& tether = BenchTether::instance();
    const int file = openAppending(tether.folder() + "/baseline.log");
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const std::string& line = tether.line();
    for (auto _ : state) {
        benchmark::DoNotOptimize(write(file, line.data(), line.size()));
        benchmark::DoNotOptimize(write(null, line.data(), line.size()));
    }
    close(null);
    close(file);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * line.size()));
}
BENCHMARK(BM_WriteBaselinePlusDevNull);

void BM_LoggerLog(benchmark::State& state) {
    BenchTether& tether = BenchTether::instance();
    const QuietStderr quiet;
    tq::Logger& logger = tether.logger();
    for (auto _ : state) logger.log(4, "tq", kFormat, kStamp, kFile, 214, 1234, 1920, 1080, 30);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * tether.line().size()));
}
BENCHMARK(BM_LoggerLog);

}  // namespace
