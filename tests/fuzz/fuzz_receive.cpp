// libFuzzer target over the whole receive path: bytes cut into blocks in a way
// the input chooses, handed over by the scripted serial control, framed, the
// slots decoded as the readout refresh decodes them, and every waveform frame
// drawn by the sweep chart on a real backing image.
//
// Input layout:
//   byte 0  how the stream is cut. Bits 7..5 pick the pattern, bits 4..0 its size:
//           0 one block; 1 blocks of size+1 bytes; 2 blocks of 1, 2, .., size+1
//           bytes, repeating; 3 single bytes; 4..7 sizes drawn from a generator
//           seeded by bytes 0 and 1, up to 4, 16, 64 and 512 bytes.
//   byte 1  events. Block i is only queued, and a non-receive event raised
//           instead, when bit (i mod 6) is set; its bytes then wait for the next
//           receive event. Bit 6 set: every payload byte goes on the line twice,
//           so that a frame can outgrow the framer's cap within the fuzzer's
//           length limit. Bit 7 set: the readout refresh runs after every fourth
//           block only, so slots get replaced before they are taken.
//   rest    the byte stream.
//
// Besides the sanitizers, the target checks the framer against a byte-at-a-time
// model of the receive algorithm, and the invariants that the window relies
// on; a violation aborts with the broken condition.
#include "drawsurface.h"
#include "fakeserialcontrol.h"
#include "framer.h"
#include "frames.h"
#include "receiver.h"
#include "sweepchart.h"
#include "fuzzcheck.h"

#include <QGuiApplication>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace quorvid;

namespace {

// The chart's picture box: 589 x 221 pixels carrying a user scale of 737 x 340.
constexpr int kClientWidth = 589;
constexpr int kClientHeight = 221;
constexpr double kScaleWidth = 737;
constexpr double kScaleHeight = 340;
// The sweep's last step lies one unit past the right edge.
constexpr int kLastSweepX = 738;

// The readout refresh's thresholds: a slot is used once it is longer than these.
constexpr std::size_t kInfoThreshold = 100;
constexpr std::size_t kStatusThreshold = 2;
constexpr std::size_t kValuesThreshold = 8;

// Non-receive events a real control raises.
constexpr int kOtherEvents[] = {CommEvent::Send,  CommEvent::Break,    CommEvent::Frame,
                                CommEvent::Overrun, CommEvent::RxOver, CommEvent::RxParity,
                                0,                 3};

// The receive algorithm taken one byte at a time, exactly as the board's
// protocol describes it, with the framer's cap on the frame being assembled.
struct ModelFramer {
    ByteString cur, last, info, status, values;
    bool textMode = false;
    std::vector<Samples> plotted;

    void take(Byte b)
    {
        if (b >= 0x80) {
            last.swap(cur);
            cur.assign(1, b);
            textMode = (b == 0xE0);
            if (last.empty()) return;
            const Byte f = last.front();
            if (f == 0xE0) info = last;
            else if (f >= 0xD0) status = last;
            else if (f >= 0xC0) {
                if (last.size() >= 3)
                    plotted.push_back({static_cast<std::int16_t>(last[1] + (f & 0x0C) * 32),
                                       static_cast<std::int16_t>(last[2] + (f & 0x03) * 128)});
            } else if (f >= 0x80) values = last;
            return;
        }
        if (textMode) {
            if (cur.size() + 2 > Framer::kMaxFrameBytes) return;
            cur.push_back(b);
            cur.push_back(0x00);
        } else if (cur.size() < Framer::kMaxFrameBytes) {
            cur.push_back(b);
        }
    }
};

// Stands between the framer and the chart and checks both sides of each step.
class CheckedChart : public WaveformSink {
public:
    explicit CheckedChart(SweepChart& chart)
        : m_chart(chart)
    {
    }

    void PlotSamples(std::int16_t& s1, std::int16_t& s2) override
    {
        FUZZ_CHECK(s1 >= 0 && s1 <= 511 && s2 >= 0 && s2 <= 511);
        plotted.push_back({s1, s2});
        const int in1 = s1, in2 = s2;
        m_chart.PlotSamples(s1, s2);
        FUZZ_CHECK(s1 == 420 - in1 && s2 == 421 - in2);
        FUZZ_CHECK(m_chart.SweepX >= 0 && m_chart.SweepX <= kLastSweepX);
        FUZZ_CHECK(m_chart.SweepX % 2 == 0);
        FUZZ_CHECK(m_chart.LastY1 == s1 && m_chart.LastY2 == s2);
    }

    std::vector<Samples> plotted;

private:
    SweepChart& m_chart;
};

// What the window's labels would show.
struct Readout {
    QString identify, stat1, stat2;
    QString sys1, map1, dia1, sys2, map2, dia2, pulse;
};

bool pressureInRange(std::int16_t p) { return p >= -100 && p <= 411; }

QString statusLabel(unsigned code)
{
    const std::string_view text = statusTextFor(code);
    FUZZ_CHECK(code < kStatusTextCount || text.empty());
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// One tick of the readout refresh: each slot longer than its threshold is
// decoded into the labels and emptied; a shorter one stays as it is.
void refreshTick(Framer& framer, Readout& out)
{
    if (framer.FrameInfo.size() > kInfoThreshold) {
        const std::u16string text = decodeIdentification(framer.FrameInfo);
        FUZZ_CHECK(text.size() == (framer.FrameInfo.size() - 1) / 2);
        for (char16_t c : text) FUZZ_CHECK(c < 0x80);
        out.identify = QString::fromStdU16String(text);
        FUZZ_CHECK(out.identify.size() == static_cast<qsizetype>(text.size()));
        framer.FrameInfo.clear();
    }

    if (framer.FrameStatus.size() > kStatusThreshold) {
        const auto codes = decodeStatus(framer.FrameStatus);
        FUZZ_CHECK(codes.has_value());
        FUZZ_CHECK(codes->ch1 < 0x80 && codes->ch2 < 0x80);
        out.stat1 = statusLabel(codes->ch1);
        out.stat2 = statusLabel(codes->ch2);
        framer.FrameStatus.clear();
    } else {
        FUZZ_CHECK(!decodeStatus(framer.FrameStatus).has_value());
    }

    if (framer.FrameValues.size() > kValuesThreshold) {
        const auto v = decodeValues(framer.FrameValues);
        FUZZ_CHECK(v.has_value());
        FUZZ_CHECK(pressureInRange(v->sys1) && pressureInRange(v->map1) && pressureInRange(v->dia1));
        FUZZ_CHECK(pressureInRange(v->sys2) && pressureInRange(v->map2) && pressureInRange(v->dia2));
        FUZZ_CHECK(v->pulse >= 0 && v->pulse <= 255);
        out.sys1 = QString::number(v->sys1);
        out.map1 = QString::number(v->map1);
        out.dia1 = QString::number(v->dia1);
        out.sys2 = QString::number(v->sys2);
        out.map2 = QString::number(v->map2);
        out.dia2 = QString::number(v->dia2);
        out.pulse = QString::number(v->pulse);
        framer.FrameValues.clear();
    } else {
        FUZZ_CHECK(!decodeValues(framer.FrameValues).has_value());
    }
}

// Cuts the stream into block sizes as byte 0 of the input says.
class BlockSizes {
public:
    BlockSizes(Byte pattern, Byte events)
        : m_mode(pattern >> 5)
        , m_size((pattern & 0x1F) + 1u)
        , m_state(0x9E3779B9u ^ (unsigned(pattern) << 8) ^ events)
    {
    }

    std::size_t next(std::size_t left)
    {
        std::size_t n = left;
        switch (m_mode) {
        case 0: break;
        case 1: n = m_size; break;
        case 2: n = m_step++ % m_size + 1; break;
        case 3: n = 1; break;
        default: {
            static constexpr unsigned kLargest[] = {4, 16, 64, 512};
            m_state ^= m_state << 13;
            m_state ^= m_state >> 17;
            m_state ^= m_state << 5;
            n = m_state % kLargest[m_mode - 4] + 1;
        }
        }
        return n < left ? n : left;
    }

private:
    unsigned m_mode;
    unsigned m_size;
    unsigned m_step = 0;
    std::uint32_t m_state;
};

void checkFramerState(const Framer& framer, const ModelFramer& model, bool headerSeen)
{
    FUZZ_CHECK(framer.FrameCur.size() <= Framer::kMaxFrameBytes);
    if (headerSeen) {
        FUZZ_CHECK(!framer.FrameCur.empty() && isHeader(framer.FrameCur.front()));
        FUZZ_CHECK(framer.TextMode == (framer.FrameCur.front() == kIdentificationHeader));
        // Header byte plus two bytes per character.
        if (framer.TextMode) FUZZ_CHECK(framer.FrameCur.size() % 2 == 1);
    } else {
        FUZZ_CHECK(!framer.TextMode);
    }
    if (!framer.FrameInfo.empty()) {
        FUZZ_CHECK(framer.FrameInfo.size() % 2 == 1);
        FUZZ_CHECK(framer.FrameInfo.front() == kIdentificationHeader);
    }
    FUZZ_CHECK(framer.FrameCur == model.cur);
    FUZZ_CHECK(framer.TextMode == model.textMode);
    FUZZ_CHECK(framer.FrameInfo == model.info);
    FUZZ_CHECK(framer.FrameStatus == model.status);
    FUZZ_CHECK(framer.FrameValues == model.values);
}

}  // namespace

// The picture box lives as long as the window, so one image serves every input,
// as one serves the whole run of the program: it carries the start-up grid and
// whatever earlier inputs drew. Nothing the chart decides depends on the pixels,
// so an input still replays alone; a fresh image per input would spend most of
// the time mapping and clearing pages.
ImageSurface* theSurface = nullptr;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // QImage and QPainter want a GUI application; the fuzzer keeps it and the
    // surface for the whole run, so neither is ever deleted.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_receive";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* app = new QGuiApplication(argc, argv);
    (void)app;

    theSurface = new ImageSurface(QSize(kClientWidth, kClientHeight),
                                  QSizeF(kScaleWidth, kScaleHeight));
    SweepChart chart(*theSurface);
    chart.drawStartupGrid();
    FUZZ_CHECK(chart.GridX == 740);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) return 0;
    const Byte pattern = data[0];
    const Byte events = data[1];
    const bool payloadTwice = (events & 0x40) != 0;
    const bool tickEveryFourth = (events & 0x80) != 0;
    ByteString stream;
    stream.reserve(2 * size);
    for (const Byte b : Bytes(data + 2, size - 2)) {
        stream.push_back(b);
        if (payloadTwice && !isHeader(b)) stream.push_back(b);
    }

    FakeSerialControl comm;
    comm.setOpenablePorts({1});
    FUZZ_CHECK(comm.setRThreshold(1).ok());
    FUZZ_CHECK(comm.setPortOpen(true).ok());

    SweepChart chart(*theSurface);
    CheckedChart checked(chart);
    Framer framer(&checked);
    ModelFramer model;
    Readout readout;

    QObject::connect(&comm, &SerialControl::onComm, [&] {
        const int waiting = comm.inBufferCount();
        const bool receive = comm.commEvent() == CommEvent::Receive;
        MSComm1_OnComm(comm, framer);
        // A receive event drains the port; any other reads nothing.
        FUZZ_CHECK(comm.inBufferCount() == (receive ? 0 : waiting));
    });

    // The model takes the bytes handed to the control once a receive event has
    // drained them all: up to queuedUpTo handed over, up to readUpTo taken.
    std::size_t readUpTo = 0, queuedUpTo = 0;
    bool headerSeen = false;
    auto catchUp = [&] {
        if (comm.inBufferCount() != 0) return;
        for (; readUpTo < queuedUpTo; ++readUpTo) {
            headerSeen |= isHeader(stream[readUpTo]);
            model.take(stream[readUpTo]);
        }
    };

    ByteString curBefore;
    curBefore.reserve(Framer::kMaxFrameBytes);

    // Samples plotted so far agree with the model; each is compared once.
    std::size_t plotsCompared = 0;
    auto checkPlots = [&] {
        FUZZ_CHECK(checked.plotted.size() == model.plotted.size());
        for (; plotsCompared < model.plotted.size(); ++plotsCompared)
            FUZZ_CHECK(checked.plotted[plotsCompared] == model.plotted[plotsCompared]);
    };

    BlockSizes sizes(pattern, events);
    std::size_t at = 0;
    for (unsigned block = 0; at < stream.size(); ++block) {
        const std::size_t n = sizes.next(stream.size() - at);
        const QByteArray bytes(reinterpret_cast<const char*>(stream.data() + at),
                               static_cast<qsizetype>(n));
        at += n;
        queuedUpTo = at;
        if (events & (1u << (block % 6))) {
            const std::size_t plottedBefore = checked.plotted.size();
            curBefore = framer.FrameCur;
            comm.queue(bytes);
            comm.raise(kOtherEvents[block % 8]);
            FUZZ_CHECK(checked.plotted.size() == plottedBefore && framer.FrameCur == curBefore);
        } else {
            comm.deliver(bytes);
        }
        catchUp();
        checkFramerState(framer, model, headerSeen);
        checkPlots();
        if (!tickEveryFourth || block % 4 == 3) {
            refreshTick(framer, readout);
            model.info = framer.FrameInfo;
            model.status = framer.FrameStatus;
            model.values = framer.FrameValues;
            FUZZ_CHECK(framer.FrameInfo.size() <= kInfoThreshold);
            FUZZ_CHECK(framer.FrameStatus.size() <= kStatusThreshold);
            FUZZ_CHECK(framer.FrameValues.size() <= kValuesThreshold);
        }
    }

    // Whatever still waits is read by the next receive event.
    comm.raise(CommEvent::Receive);
    queuedUpTo = stream.size();
    catchUp();
    FUZZ_CHECK(readUpTo == stream.size());
    checkFramerState(framer, model, headerSeen);
    checkPlots();
    refreshTick(framer, readout);
    return 0;
}
