// Command round trips between the phone stand-in and a running hub over
// loopback: hello (ports, key, reply) and the name query, as the phone sees
// them. Reports p50 and p99 beside the mean. Run inside scripts/netns-run.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <vector>

#include "stream_manager.h"
#include "support/phone/command_client.h"

namespace {

constexpr uint16_t kCommandPort = 10080;

struct RunningHub {
    RunningHub() : hub({}, {}, nullptr) {
        hub.Start(kStreamTransportWifi);
        for (int attempt = 0; attempt < 200 && !phone.isOpen(); ++attempt) {
            if (!phone.connect("127.0.0.1", kCommandPort, std::chrono::milliseconds(200))) QThread::msleep(10);
        }
    }
    StreamManager hub;
    zucam::phone::CommandClient phone;
};

void ReportPercentiles(benchmark::State& state, std::vector<double>& micros) {
    if (micros.empty()) return;
    std::sort(micros.begin(), micros.end());
    state.counters["p50_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
}

template <typename Exchange>
void MeasureRoundTrips(benchmark::State& state, Exchange exchange) {
    RunningHub running;
    if (!running.phone.isOpen()) {
        state.SkipWithError("no hub listening on the command port");
        return;
    }
    std::vector<double> micros;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!exchange(running.phone)) {
            state.SkipWithError(running.phone.lastError().c_str());
            return;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    ReportPercentiles(state, micros);
}

void BM_HelloToReply(benchmark::State& state) {
    MeasureRoundTrips(state, [](zucam::phone::CommandClient& phone) {
        return phone.hello("Pixel", 30, 1920, 1080).has_value();
    });
}
BENCHMARK(BM_HelloToReply)->Unit(benchmark::kMicrosecond)->Iterations(500);

void BM_NameQueryToAnswer(benchmark::State& state) {
    MeasureRoundTrips(state, [](zucam::phone::CommandClient& phone) {
        return phone.sendCommand(zucam::phone::CommandType::NameQuery) && phone.readMessage().has_value();
    });
}
BENCHMARK(BM_NameQueryToAnswer)->Unit(benchmark::kMicrosecond)->Iterations(500);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);  // the hub posts to its own thread's event loop
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
