#include <benchmark/benchmark.h>

#include <vector>

#include "discovery/found_device.h"
#include "discovery/search_protocol.h"
#include "discovery/search_reply_builder.h"

namespace vantrel {
namespace {

std::vector<std::vector<unsigned char>> Replies(std::size_t count) {
    std::vector<std::vector<unsigned char>> replies;
    for (std::size_t i = 0; i < count; ++i) {
        FoundDevice device;
        device.address = static_cast<std::uint32_t>(0x0A000000u + i);
        device.port = 8000;
        replies.push_back(BuildSearchReply(device, static_cast<unsigned char>(i % 3)));
    }
    return replies;
}

// runs perReply(decoder, reply, payload) once per iteration, cycling through 1024 replies
template <typename PerReply>
void RunOverReplies(benchmark::State& state, PerReply perReply) {
    const auto replies = Replies(1024);
    const ReplyDecoder decoder;
    ReplyPayload payload{};
    std::size_t i = 0;
    for (auto _ : state) {
        perReply(decoder, replies[i++ & 1023], payload);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void BM_DecodeReply(benchmark::State& state) {
    RunOverReplies(state,
                   [](const ReplyDecoder& decoder, const std::vector<unsigned char>& reply, ReplyPayload& payload) {
                       benchmark::DoNotOptimize(decoder.Decode(reply.data(), reply.size(), payload.data()));
                       benchmark::ClobberMemory();
                   });
}
BENCHMARK(BM_DecodeReply);

// what the search does per reply: decode and build the entry with its address text
void BM_DecodeAndMakeFoundDevice(benchmark::State& state) {
    RunOverReplies(state,
                   [](const ReplyDecoder& decoder, const std::vector<unsigned char>& reply, ReplyPayload& payload) {
                       if (decoder.Decode(reply.data(), reply.size(), payload.data()) == 1) {
                           benchmark::DoNotOptimize(MakeFoundDevice(payload.data()));
                       }
                   });
}
BENCHMARK(BM_DecodeAndMakeFoundDevice);

void BM_RejectProbe(benchmark::State& state) {
    const SearchProbe probe = BuildSearchProbe();
    const ReplyDecoder decoder;
    ReplyPayload payload{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(decoder.Decode(probe.data(), probe.size(), payload.data()));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_RejectProbe);

}  // namespace
}  // namespace vantrel

BENCHMARK_MAIN();
