// The receive path without drawing, one chart step on the real backing
// image, and one tick of the readout refresh. Run: bench/bench.sh, or
//   build-bench/bench/quorvid_bench --benchmark_repetitions=10
//                                   --benchmark_report_aggregates_only=true
#include "drawsurface.h"
#include "fakeserialcontrol.h"
#include "form1.h"
#include "framer.h"
#include "graph.h"
#include "receiver.h"
#include "streams.h"
#include "sweepchart.h"

#include <QApplication>

#include <benchmark/benchmark.h>

using namespace quorvid;

namespace {

struct NullPlot : WaveformSink {
    long calls = 0;
    void PlotSamples(std::int16_t& s1, std::int16_t& s2) override
    {
        benchmark::DoNotOptimize(s1 + s2);
        ++calls;
    }
};

// Framer, dispatch, waveform decode into a plot that draws nothing, slots, and
// the decode the readout refresh does when it takes a slot.
void feedStream(benchmark::State& state, const ByteString& stream)
{
    NullPlot plot;
    Framer framer(&plot);
    for (auto _ : state) {
        framer.feed(stream);
        benchmark::DoNotOptimize(decodeValues(framer.FrameValues));
        benchmark::DoNotOptimize(decodeStatus(framer.FrameStatus));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(stream.size()));
    state.counters["plots"] = benchmark::Counter(double(plot.calls), benchmark::Counter::kIsRate);
}

void BM_ReceivePathBoardStream(benchmark::State& state) { feedStream(state, bench::boardStream(10)); }
BENCHMARK(BM_ReceivePathBoardStream);

void BM_ReceivePathRandomBytes(benchmark::State& state) { feedStream(state, bench::randomStream(64 * 1024)); }
BENCHMARK(BM_ReceivePathRandomBytes);

// The same stream through the serial control's receive event, in the 16-byte
// blocks the configured receive buffer suggests.
void BM_ReceiveEventSmallBlocks(benchmark::State& state)
{
    const ByteString stream = bench::boardStream(10);
    FakeSerialControl comm;
    comm.setOpenablePorts({1});
    (void)comm.setPortOpen(true);
    NullPlot plot;
    Framer framer(&plot);
    QList<QByteArray> blocks;
    for (std::size_t i = 0; i < stream.size(); i += 16)
        blocks << QByteArray(reinterpret_cast<const char*>(stream.data() + i),
                             qsizetype(std::min<std::size_t>(16, stream.size() - i)));
    for (auto _ : state) {
        for (const QByteArray& b : blocks) {
            comm.queue(b);
            comm.raise(CommEvent::Receive);
            MSComm1_OnComm(comm, framer);
        }
        // The fake journals every read; left to grow, it would measure the
        // allocator rather than the receive event.
        comm.clearJournal();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(stream.size()));
}
BENCHMARK(BM_ReceiveEventSmallBlocks);

void BM_PlotSamplesOnImage(benchmark::State& state)
{
    ImageSurface surface(QSize(Graph::kClientWidth, Graph::kClientHeight),
                         QSizeF(Graph::kScaleWidth, Graph::kScaleHeight), double(state.range(0)));
    SweepChart chart(surface);
    chart.drawStartupGrid();
    int i = 0;
    for (auto _ : state) {
        std::int16_t s1 = static_cast<std::int16_t>(200 + (i * 7) % 120);
        std::int16_t s2 = static_cast<std::int16_t>(110 + (i * 3) % 20);
        chart.PlotSamples(s1, s2);
        ++i;
    }
    benchmark::DoNotOptimize(surface.image().constBits());
}
BENCHMARK(BM_PlotSamplesOnImage)->Arg(1)->Arg(2)->ArgName("dpr");

// One tick of the readout refresh on a shown window. With frames waiting, two
// sets alternate so that every label changes at every tick, as the values do
// from beat to beat; refilling the slots is part of the loop (a few byte
// copies beside the label updates).
void BM_ReadoutTick(benchmark::State& state)
{
    const bool full = state.range(0) != 0;
    FakeSerialControl comm;
    comm.setOpenablePorts({1});
    Form1 form(comm);
    form.Form_Load();
    form.show();
    QCoreApplication::processEvents();

    auto stored = [](const ByteString& wire) {
        Framer f;
        ByteString closed = wire;
        closed.push_back(0x80);
        f.feed(closed);
        return wire.front() == kIdentificationHeader ? f.FrameInfo
               : frameKind(wire.front()) == FrameKind::Status ? f.FrameStatus
                                                               : f.FrameValues;
    };
    struct Set {
        ByteString info, status, values;
    };
    const Set sets[2] = {
        {stored(encodeIdentification("QX 04100 IBP OEM board, simulated, firmware 2.07 (A)")),
         stored(encodeStatus({0, 0})), stored(encodeValues({120, 93, 80, 25, 15, 10, 75}))},
        {stored(encodeIdentification("QX 04100 IBP OEM board, simulated, firmware 2.07 (B)")),
         stored(encodeStatus({6, 2})), stored(encodeValues({131, 97, 84, 27, 16, 11, 78}))},
    };
    Framer& framer = form.framer();
    int i = 0;
    for (auto _ : state) {
        if (full) {
            const Set& set = sets[i++ & 1];
            framer.FrameInfo = set.info;
            framer.FrameStatus = set.status;
            framer.FrameValues = set.values;
        }
        form.Val_Update_Timer();
    }
    if (full && !framer.FrameValues.empty()) state.SkipWithError("the tick left a slot full");
    form.hide();
}
BENCHMARK(BM_ReadoutTick)->Arg(1)->Arg(0)->ArgName("full");

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
