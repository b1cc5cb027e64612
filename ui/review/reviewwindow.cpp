#include "reviewwindow.h"

#include "csvrows.h"
#include "rangeexport.h"
#include "statistics.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace quorvid {

namespace {

// The shortest span shown: a few samples at the board's fastest pace.
constexpr std::int64_t kMinSpan = 20'000;
constexpr double kZoomStep = 1.25;
// A press that moves less than this is a click, which places a cursor.
constexpr int kClickSlop = 3;
constexpr int kCursorGrip = 4;

QString seconds(std::int64_t microseconds)
{
    return record::secondsText(microseconds, 3, record::SecondsRounding::Nearest) + QLatin1String(" s");
}

QString number(double v) { return QString::number(v, 'f', 1); }

}  // namespace

ReviewScene clampedSpan(ReviewScene scene, std::int64_t length)
{
    std::int64_t span = std::clamp<std::int64_t>(scene.to - scene.from, kMinSpan, std::max(kMinSpan, length));
    std::int64_t from = std::clamp<std::int64_t>(scene.from, 0, std::max<std::int64_t>(0, length - span));
    scene.from = from;
    scene.to = from + span;
    return scene;
}

ReviewWindow::ReviewWindow(QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("reviewWindow"));
    setWindowTitle(QStringLiteral("Quorvid Review"));
    resize(1100, 640);
    auto* layout = new QVBoxLayout(this);
    m_info = new QLabel(QStringLiteral("Reading..."), this);
    m_info->setObjectName(QStringLiteral("info"));
    m_info->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_info);
    m_canvas = new ReviewCanvas(this);
    layout->addWidget(m_canvas, 1);
    setFocusProxy(m_canvas);  // the keys move through the recording from the start
    m_readout = new QLabel(this);
    m_readout->setObjectName(QStringLiteral("readout"));
    m_readout->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_readout);
    m_statistics = new QLabel(this);
    m_statistics->setObjectName(QStringLiteral("statistics"));
    m_statistics->setWordWrap(true);
    m_statistics->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_statistics);

    auto* buttons = new QHBoxLayout;
    m_fit = new QCheckBox(QStringLiteral("&Fit scale to the visible readings"), this);
    m_fit->setObjectName(QStringLiteral("fitScale"));
    connect(m_fit, &QCheckBox::toggled, this, &ReviewWindow::setFitScale);
    buttons->addWidget(m_fit);
    buttons->addStretch(1);
    m_exportCsv = new QPushButton(QStringLiteral("Export A-B as &CSV..."), this);
    connect(m_exportCsv, &QPushButton::clicked, this, &ReviewWindow::chooseCsv);
    buttons->addWidget(m_exportCsv);
    m_exportPicture = new QPushButton(QStringLiteral("Export view as &PNG..."), this);
    connect(m_exportPicture, &QPushButton::clicked, this, &ReviewWindow::choosePicture);
    buttons->addWidget(m_exportPicture);
    layout->addLayout(buttons);
    m_exportCsv->setEnabled(false);
    m_exportPicture->setEnabled(false);
    refreshText();
}

ReviewWindow::~ReviewWindow() = default;

ReviewWindow* ReviewWindow::openFile(const QString& path)
{
    auto* window = new ReviewWindow;
    window->setAttribute(Qt::WA_DeleteOnClose);
    // The message does not block: the window that asked goes on, and closing
    // the message closes the empty review window.
    connect(window, &ReviewWindow::failed, window, [window](const QString& message) {
        auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Quorvid Review"),
                                    QStringLiteral("The recording cannot be read.\n\n%1").arg(message),
                                    QMessageBox::Ok, window);
        box->setObjectName(QStringLiteral("reviewMessage"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        connect(box, &QMessageBox::finished, window, &QWidget::close);
        box->open();
    });
    window->load(path);
    window->show();
    return window;
}

void ReviewWindow::load(const QString& path)
{
    setWindowTitle(QStringLiteral("Quorvid Review - %1").arg(QFileInfo(path).fileName()));
    m_info->setText(QStringLiteral("Reading %1...").arg(QDir::toNativeSeparators(path)));
    struct Outcome {
        std::optional<review::Recording> recording;
        QString error;
    };
    auto outcome = std::make_shared<Outcome>();
    QThread* reader = QThread::create([path, outcome] { outcome->recording = review::readRecording(path, &outcome->error); });
    connect(reader, &QThread::finished, reader, &QObject::deleteLater);
    connect(reader, &QThread::finished, this, [this, outcome] {
        if (!outcome->recording) {
            m_info->setText(outcome->error);
            emit failed(outcome->error);
            return;
        }
        setRecording(std::make_shared<const review::Recording>(std::move(*outcome->recording)));
        emit loaded();
    });
    reader->start();
}

void ReviewWindow::setRecording(std::shared_ptr<const review::Recording> recording)
{
    m_recording = std::move(recording);
    m_canvas->chart().setRecording(m_recording.get());
    if (m_recording && !m_recording->path.isEmpty())
        setWindowTitle(QStringLiteral("Quorvid Review - %1").arg(QFileInfo(m_recording->path).fileName()));
    m_exportCsv->setEnabled(m_recording != nullptr);
    m_exportPicture->setEnabled(m_recording != nullptr);
    ReviewScene all = m_scene;
    all.from = 0;
    all.to = m_canvas->chart().length();
    all.cursorA.reset();
    all.cursorB.reset();
    changeScene(all);
}

void ReviewWindow::showSpan(std::int64_t from, std::int64_t to)
{
    ReviewScene scene = m_scene;
    scene.from = from;
    scene.to = to;
    changeScene(scene);
}

void ReviewWindow::setCursors(std::optional<std::int64_t> a, std::optional<std::int64_t> b)
{
    ReviewScene scene = m_scene;
    scene.cursorA = a;
    scene.cursorB = b;
    changeScene(scene);
}

void ReviewWindow::setFitScale(bool fit)
{
    if (m_fit->isChecked() != fit) m_fit->setChecked(fit);  // comes back here
    ReviewScene scene = m_scene;
    scene.fitScale = fit;
    changeScene(scene);
}

void ReviewWindow::changeScene(const ReviewScene& scene)
{
    const std::int64_t length = m_canvas->chart().length();
    m_scene = clampedSpan(scene, length);
    for (auto* cursor : {&m_scene.cursorA, &m_scene.cursorB})
        if (*cursor) **cursor = std::clamp<std::int64_t>(**cursor, 0, length);
    refreshText();
    m_canvas->update();
    emit sceneChanged();
}

QString ReviewWindow::infoText() const
{
    if (!m_recording) return m_info->text();
    const review::Recording& r = *m_recording;
    QString text = QStringLiteral("%1  |  %2 long, %3 readings, %4 beats")
                       .arg(r.notes(), seconds(r.lastMicroseconds))
                       .arg(r.trace.size())
                       .arg(r.beats.size());
    if (r.csvPath.isEmpty() && r.path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive)) text += QStringLiteral("  |  read from the CSV rows");
    for (const QString& warning : r.warnings) text += QStringLiteral("\nNote: %1").arg(warning);
    return text;
}

QString ReviewWindow::cursorReadout() const
{
    if (!m_recording) return {};
    if (!m_scene.cursorA && !m_scene.cursorB) return QStringLiteral("Click the chart to place cursor A, then B.");
    const review::Trace& trace = m_recording->trace;
    QStringList parts;
    std::optional<review::Reading> at[2];
    const std::optional<std::int64_t> cursors[2] = {m_scene.cursorA, m_scene.cursorB};
    for (int i = 0; i < 2; ++i) {
        if (!cursors[i]) continue;
        at[i] = review::readingAt(trace, *cursors[i]);
        QString part = QStringLiteral("%1 %2").arg(i == 0 ? QStringLiteral("A") : QStringLiteral("B"), seconds(*cursors[i]));
        if (m_recording->started.isValid())
            part += QStringLiteral(" (%1)").arg(m_recording->started.addMSecs(*cursors[i] / 1000).toLocalTime().toString(QStringLiteral("HH:mm:ss.zzz")));
        if (at[i]) part += QStringLiteral(": ch1 %1, ch2 %2 mmHg").arg(at[i]->ch1).arg(at[i]->ch2);
        parts << part;
    }
    if (cursors[0] && cursors[1]) {
        parts << QStringLiteral("\u0394t %1").arg(seconds(*cursors[1] - *cursors[0]));
        if (at[0] && at[1])
            parts << QStringLiteral("\u0394 ch1 %1, ch2 %2 mmHg").arg(at[1]->ch1 - at[0]->ch1).arg(at[1]->ch2 - at[0]->ch2);
    }
    return parts.join(QLatin1String("   "));
}

QString ReviewWindow::rangeStatisticsText() const
{
    if (!m_recording || !m_scene.cursorA || !m_scene.cursorB) return {};
    const review::TimeRange range{std::min(*m_scene.cursorA, *m_scene.cursorB), std::max(*m_scene.cursorA, *m_scene.cursorB)};
    const review::RangeStatistics s = review::statistics(*m_recording, range);
    QStringList lines;
    QStringList channels;
    for (std::size_t i = 0; i < 2; ++i) {
        const review::ChannelStatistics& c = s.channels[i];
        channels << (c.count == 0 ? QStringLiteral("ch%1 no readings").arg(i + 1)
                                  : QStringLiteral("ch%1 mean %2, SD %3, min %4, max %5 mmHg")
                                        .arg(i + 1).arg(number(c.mean), number(c.sd)).arg(c.min).arg(c.max));
    }
    lines << QStringLiteral("A\u2013B: ") + channels.join(QLatin1String("; "));
    const review::BeatStatistics& b = s.beats;
    lines << (b.count == 0 ? QStringLiteral("No beats.")
                           : QStringLiteral("%1 beats: ch1 %2/%3 (%4), ch2 %5/%6 (%7) mmHg, pulse %8 bpm")
                                 .arg(b.count)
                                 .arg(number(b.sys1), number(b.dia1), number(b.map1), number(b.sys2), number(b.dia2),
                                      number(b.map2), number(b.pulse)));
    QStringList seen;
    for (const StatusCodes& c : s.statusesSeen)
        seen << QStringLiteral("%1 | %2").arg(QString::fromLatin1(statusTextFor(c.ch1).data(), qsizetype(statusTextFor(c.ch1).size())),
                                              QString::fromLatin1(statusTextFor(c.ch2).data(), qsizetype(statusTextFor(c.ch2).size())));
    lines << QStringLiteral("Frames: %1 waveform, %2 values, %3 status, %4 identification. Statuses: %5")
                 .arg(s.waveformFrames).arg(s.valuesFrames).arg(s.statusFrames).arg(s.identificationFrames)
                 .arg(seen.isEmpty() ? QStringLiteral("none") : seen.join(QLatin1String("; ")));
    return lines.join(u'\n');
}

void ReviewWindow::refreshText()
{
    m_info->setText(infoText());
    m_readout->setText(cursorReadout());
    m_statistics->setText(rangeStatisticsText());
}

bool ReviewWindow::exportCsv(const QString& path, QString* error) const
{
    if (!m_recording) return false;
    review::TimeRange range{m_scene.from, m_scene.to};
    if (m_scene.cursorA && m_scene.cursorB)
        range = {std::min(*m_scene.cursorA, *m_scene.cursorB), std::max(*m_scene.cursorA, *m_scene.cursorB)};
    return review::exportCsvRange(*m_recording, range, path, error);
}

bool ReviewWindow::exportPicture(const QString& path, QString* error) const
{
    if (!m_recording) return false;
    const QImage image = renderReview(*m_recording, m_scene, m_canvas->size());
    if (!image.save(path, "PNG")) {
        if (error) *error = QStringLiteral("%1: the picture could not be written").arg(QDir::toNativeSeparators(path));
        return false;
    }
    return true;
}

void ReviewWindow::chooseCsv()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export A-B as CSV"), QString(),
                                                      QStringLiteral("CSV files (*.csv)"));
    QString error;
    if (!path.isEmpty() && !exportCsv(path, &error)) QMessageBox::warning(this, windowTitle(), error);
}

void ReviewWindow::choosePicture()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export view as PNG"), QString(),
                                                      QStringLiteral("PNG pictures (*.png)"));
    QString error;
    if (!path.isEmpty() && !exportPicture(path, &error)) QMessageBox::warning(this, windowTitle(), error);
}

ReviewCanvas::ReviewCanvas(ReviewWindow* window)
    : QWidget(window)
    , m_window(window)
{
    setObjectName(QStringLiteral("reviewCanvas"));
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(400, 260);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(false);
}

int ReviewCanvas::xOf(std::int64_t t) const
{
    return int(std::lround(ReviewChart::xOf(t, m_window->m_scene, plotArea())));
}

void ReviewCanvas::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    m_chart.paint(painter, rect(), m_window->m_scene);
}

void ReviewCanvas::zoom(double factor, std::int64_t around)
{
    ReviewScene scene = m_window->m_scene;
    scene.from = around - std::llround((around - scene.from) * factor);
    scene.to = around + std::llround((scene.to - around) * factor);
    m_window->changeScene(scene);
}

void ReviewCanvas::pan(std::int64_t by)
{
    ReviewScene scene = m_window->m_scene;
    scene.from += by;
    scene.to += by;
    m_window->changeScene(scene);
}

void ReviewCanvas::wheelEvent(QWheelEvent* event)
{
    // A wheel's notch is 120; a touchpad sends fractions of one.
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0) return;
    const std::int64_t around = ReviewChart::timeAt(event->position().x(), m_window->m_scene, plotArea());
    zoom(std::pow(kZoomStep, -notches), around);
    event->accept();
}

void ReviewCanvas::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return;
    m_pressedAt = event->position().toPoint();
    m_pressedScene = m_window->m_scene;
    if (overviewArea().contains(m_pressedAt)) {
        m_drag = Drag::Overview;
        mouseMoveEvent(event);
        return;
    }
    m_drag = Drag::Pending;
    const ReviewScene& scene = m_window->m_scene;
    if (scene.cursorA && std::abs(xOf(*scene.cursorA) - m_pressedAt.x()) <= kCursorGrip) m_drag = Drag::CursorA;
    else if (scene.cursorB && std::abs(xOf(*scene.cursorB) - m_pressedAt.x()) <= kCursorGrip) m_drag = Drag::CursorB;
}

void ReviewCanvas::mouseMoveEvent(QMouseEvent* event)
{
    const QPointF at = event->position();
    ReviewScene scene = m_window->m_scene;
    const std::int64_t t = ReviewChart::timeAt(at.x(), m_pressedScene, plotArea());
    switch (m_drag) {
    case Drag::None: return;
    case Drag::Pending:
        if (std::abs(at.x() - m_pressedAt.x()) < kClickSlop) return;
        m_drag = Drag::Pan;
        [[fallthrough]];
    case Drag::Pan: {
        const std::int64_t by = ReviewChart::timeAt(m_pressedAt.x(), m_pressedScene, plotArea()) - t;
        scene.from = m_pressedScene.from + by;
        scene.to = m_pressedScene.to + by;
        break;
    }
    case Drag::CursorA: scene.cursorA = t; break;
    case Drag::CursorB: scene.cursorB = t; break;
    case Drag::Overview: {
        const std::int64_t span = scene.to - scene.from;
        scene.from = m_chart.overviewTimeAt(at.x(), overviewArea()) - span / 2;
        scene.to = scene.from + span;
        break;
    }
    }
    m_window->changeScene(scene);
}

void ReviewCanvas::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return;
    if (m_drag == Drag::Pending && plotArea().adjusted(0, -ReviewChart::kMarksHeight, 0, 0).contains(m_pressedAt)) {
        ReviewScene scene = m_window->m_scene;
        const std::int64_t t = ReviewChart::timeAt(m_pressedAt.x(), scene, plotArea());
        if (!scene.cursorA) scene.cursorA = t;
        else if (!scene.cursorB) scene.cursorB = t;
        else if (std::abs(xOf(*scene.cursorA) - m_pressedAt.x()) <= std::abs(xOf(*scene.cursorB) - m_pressedAt.x())) scene.cursorA = t;
        else scene.cursorB = t;
        m_window->changeScene(scene);
    }
    m_drag = Drag::None;
}

void ReviewCanvas::keyPressEvent(QKeyEvent* event)
{
    const ReviewScene& scene = m_window->m_scene;
    const std::int64_t span = scene.to - scene.from;
    const std::int64_t middle = scene.from + span / 2;
    switch (event->key()) {
    case Qt::Key_Left: pan(-span / 10); break;
    case Qt::Key_Right: pan(span / 10); break;
    case Qt::Key_Plus:
    case Qt::Key_Equal: zoom(1 / kZoomStep, middle); break;
    case Qt::Key_Minus: zoom(kZoomStep, middle); break;
    case Qt::Key_Home: pan(-scene.from); break;
    case Qt::Key_End: pan(m_chart.length() - scene.to); break;
    case Qt::Key_0: m_window->showSpan(0, m_chart.length()); break;
    default: QWidget::keyPressEvent(event); return;
    }
    event->accept();
}

}  // namespace quorvid
