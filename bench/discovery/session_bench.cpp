// The search session's receiving side: a burst of 10,000 replies through the reply table with and without
// 10,000 registered devices to mark against (in memory), and a burst of 10,000 replies from simulated devices
// across a veth link through the whole session (socket, receiver thread, hand-off).
//
// The veth burst needs root: both the session and the simulated devices run in network namespaces that the
// benchmark makes and deletes, so nothing it sends leaves them (run it under `unshare -n` all the same).
//
// The simulator answers for all its devices from one address, more than the share one sender may announce
// (kMaxDevicesPerSender); both bursts raise the share to the burst's size, so that they time listing, not
// dropping.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/udp_receive_drops.h"
#include "device_network.h"
#include "discovery/reply_table.h"
#include "discovery/search_reply_builder.h"
#include "discovery/search_session.h"

namespace vantrel {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int64_t kT0 = 1700000000LL * 1000000000;

// 10.80.0.1 counting up, port 8000, as vantrel-devsim generates them
FoundDevice Generated(std::size_t i) {
    FoundDevice device;
    device.address = htonl(0x0A500001u + static_cast<std::uint32_t>(i));
    device.subnetMask = htonl(0xFFFF0000u);
    device.port = 8000;
    return device;
}

// A burst of replies as the endpoint hands them over; range(0) devices, range(1) of them (the same ones and
// as many that never answer) registered.
void BM_BurstThroughTable(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    const auto registeredCount = static_cast<std::size_t>(state.range(1));
    std::vector<std::vector<unsigned char>> replies;
    for (std::size_t i = 0; i < count; ++i) {
        replies.push_back(BuildSearchReply(Generated(i)));
    }
    std::vector<ReceivedDatagram> datagrams(count);
    for (std::size_t i = 0; i < count; ++i) {
        datagrams[i].data = replies[i].data();
        datagrams[i].length = replies[i].size();
        datagrams[i].sender.sin_family = AF_INET;
        datagrams[i].sender.sin_addr.s_addr = htonl(0x0A4D0002u);
        datagrams[i].interfaceIndex = 2;
        datagrams[i].arrivalNs = kT0 + static_cast<std::int64_t>(i) * 1000;
    }
    auto registered = std::make_shared<RegisteredDevices>();
    for (std::size_t i = 0; i < registeredCount; ++i) {
        // every other registered device answers; the rest are elsewhere on the network
        const FoundDevice device = Generated(i % 2 == 0 ? i / 2 : count + i);
        registered->Add(DottedDecimal(device.address), device.port);
        registered->AddName("Device" + std::to_string(i));
    }
    AdapterList adapters;
    adapters.Assign({{2, "va0", htonl(0x0A4D0001u), htonl(0xFFFF0000u)}});
    ReplyTable table(kMaxListedDevices, count);
    if (registeredCount > 0) {
        table.SetRegistered(registered);
    }
    std::size_t marked = 0;
    for (auto _ : state) {
        table.BeginRound(1, {});
        table.BeginProbe(kT0 - 1);
        for (const ReceivedDatagram& datagram : datagrams) {
            table.Ingest(datagram, adapters);
        }
        SessionStatus status;
        table.FillStatus(status);
        marked = status.registered;
        benchmark::DoNotOptimize(table.Rows().data());
    }
    state.counters["marked"] = static_cast<double>(marked);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * count));
}
BENCHMARK(BM_BurstThroughTable)
    ->Args({10000, 0})
    ->Args({10000, 10000})
    ->ArgNames({"replies", "registered"})
    ->Unit(benchmark::kMillisecond);

// Simulated devices answering one probe at once across a veth link, listed by a session whose owner takes
// the rows as the window does (batches of 500 when called back). Time: from Refresh to the last row taken.
// lost_most: replies of the worst round never taken; rejected_most: of them, refused by the session;
// kernel_drops: datagrams the host dropped for a full socket buffer over all rounds.
void BM_SessionBurstAcrossVeth(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    bench::DeviceNetwork network;
    ChildProcess simulator;
    if (!network.Make() ||
        // as Generated: with the simulator's default /24 mask, every 256th address would be a network or
        // broadcast address and rightly refused
        !network.StartSimulator(simulator, {"--devices", std::to_string(count), "--first-address", "10.80.0.1",
                                            "--mask", "255.255.0.0", "--quiet"})) {
        state.SkipWithError(network.Error().c_str());
        return;
    }
    NetnsScope inHost(network.Host());
    if (!inHost.Entered()) {
        state.SkipWithError("cannot enter the host namespace");
        return;
    }
    SearchSessionOptions options;
    options.probeDelaysMs = {0};
    options.maxDevicesPerSender = count;
    options.wsDiscovery = true;  // as the window searches: nobody answers it here, but its probes go out
    SearchSession session(options);
    std::atomic<bool> called{false};
    session.SetPendingCallback([&] { called.store(true); });

    std::size_t lostMost = 0;
    double longestTakeMs = 0;
    double listedLeast = static_cast<double>(count);
    std::uint64_t rejectedMost = 0;
    const long long dropsBefore = bench::UdpReceiveBufferDrops();
    for (auto _ : state) {
        const auto start = Clock::now();
        if (!session.Start()) {
            state.SkipWithError(session.Status().problem.c_str());
            return;
        }
        std::size_t taken = 0;
        const auto giveUp = start + std::chrono::seconds(5);
        while (taken < count && Clock::now() < giveUp) {
            if (!called.exchange(false)) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                continue;
            }
            PendingRows batch;
            do {
                const auto takeStart = Clock::now();
                batch = session.TakePending(500);
                longestTakeMs = std::max(longestTakeMs,
                                         std::chrono::duration<double, std::milli>(Clock::now() - takeStart).count());
                taken += std::count_if(batch.rows.begin(), batch.rows.end(),
                                       [&](const FoundRow& row) { return row.number > taken; });
            } while (batch.more);
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        lostMost = std::max(lostMost, count - std::min(count, taken));
        const SessionStatus status = session.Status();
        listedLeast = std::min(listedLeast, static_cast<double>(status.listed));
        rejectedMost = std::max(rejectedMost, status.Rejected() + status.droppedOverShare);
        // the devices answer a probe once; let the next round start on a quiet socket
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    session.Close();
    state.counters["listed_least"] = listedLeast;
    state.counters["lost_most"] = static_cast<double>(lostMost);
    state.counters["rejected_most"] = static_cast<double>(rejectedMost);
    state.counters["longest_take_ms"] = longestTakeMs;
    state.counters["kernel_drops"] = static_cast<double>(bench::UdpReceiveBufferDrops() - dropsBefore);
}
BENCHMARK(BM_SessionBurstAcrossVeth)
    ->Arg(10000)
    ->ArgName("replies")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

}  // namespace
}  // namespace vantrel

BENCHMARK_MAIN();
