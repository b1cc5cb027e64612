// The review window: a recording opened on its own, beside the monitoring
// window. A thin layer over review/: it reads the file off the window's thread,
// draws through ReviewChart, and turns the mouse and keys into the visible
// span and the cursors A and B, whose readout and statistics it shows.
//
// Wheel zooms in time around the pointer, dragging pans, the overview strip
// can be dragged; arrows pan, + and - zoom, Home and End go to the ends, 0
// shows all. A click places cursor A, then B, then moves the nearer one; a
// cursor is dragged by its line.
#pragma once

#include "reviewchart.h"

#include "recording.h"

#include <QWidget>

#include <memory>
#include <optional>

class QCheckBox;
class QLabel;
class QPushButton;

namespace quorvid {

class ReviewCanvas;

class ReviewWindow : public QWidget {
    Q_OBJECT

public:
    explicit ReviewWindow(QWidget* parent = nullptr);
    ~ReviewWindow() override;

    // Opens a review window of its own (deleted when closed) and reads path
    // into it without holding up the caller's window.
    static ReviewWindow* openFile(const QString& path);

    // Reads path off the window's thread; loaded() or failed() follows.
    void load(const QString& path);
    void setRecording(std::shared_ptr<const review::Recording> recording);
    const review::Recording* recording() const { return m_recording.get(); }

    const ReviewScene& scene() const { return m_scene; }
    void showSpan(std::int64_t from, std::int64_t to);
    void setCursors(std::optional<std::int64_t> a, std::optional<std::int64_t> b);
    void setFitScale(bool fit);

    // What the readout lines say now.
    QString cursorReadout() const;
    QString rangeStatisticsText() const;
    QString infoText() const;

    ReviewCanvas* canvas() const { return m_canvas; }

    // The A-B range (or what is visible when a cursor is missing) as CSV, and
    // the view as PNG; false with *error set when the file cannot be written.
    bool exportCsv(const QString& path, QString* error) const;
    bool exportPicture(const QString& path, QString* error) const;

signals:
    void loaded();
    void failed(const QString& message);
    void sceneChanged();

private:
    friend class ReviewCanvas;
    void changeScene(const ReviewScene& scene);
    void refreshText();
    void chooseCsv();
    void choosePicture();

    std::shared_ptr<const review::Recording> m_recording;
    ReviewScene m_scene;
    ReviewCanvas* m_canvas = nullptr;
    QLabel* m_info = nullptr;
    QLabel* m_readout = nullptr;
    QLabel* m_statistics = nullptr;
    QCheckBox* m_fit = nullptr;
    QPushButton* m_exportCsv = nullptr;
    QPushButton* m_exportPicture = nullptr;
};

// Draws the chart and takes the mouse and keys.
class ReviewCanvas : public QWidget {
    Q_OBJECT

public:
    explicit ReviewCanvas(ReviewWindow* window);
    ReviewChart& chart() { return m_chart; }
    QRect plotArea() const { return ReviewChart::plotArea(rect()); }
    QRect overviewArea() const { return ReviewChart::overviewArea(rect()); }
    // Where time t lies on the plot, in the canvas's coordinates.
    int xOf(std::int64_t t) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    enum class Drag { None, Pending, Pan, CursorA, CursorB, Overview };
    void zoom(double factor, std::int64_t around);
    void pan(std::int64_t by);

    ReviewWindow* m_window;
    ReviewChart m_chart;
    Drag m_drag = Drag::None;
    QPoint m_pressedAt;
    ReviewScene m_pressedScene;
};

// The span the view is kept within, and the shortest one it zooms to.
ReviewScene clampedSpan(ReviewScene scene, std::int64_t length);

}  // namespace quorvid
