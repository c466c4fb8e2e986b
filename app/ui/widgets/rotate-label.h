// A label that turns an image over a still background on a timer: the
// waiting indicator of the Wi-Fi page. Every rotating label advances one
// angle shared by the whole process, 7.5 degrees a step, and only while it
// is visible.
#pragma once

#include <QLabel>
#include <QPixmap>
#include <QTimer>

class RotateLabel : public QLabel {
    Q_OBJECT

public:
    static constexpr double kStepDegrees = 7.5;
    static constexpr int kDefaultIntervalMs = 100;

    explicit RotateLabel(QWidget* parent = nullptr);

    // Each loads the file at path, scaled (aspect ratio kept) to the
    // label's current size; a missing file leaves the pixmap as it was.
    void SetBackgroundPixmap(const QString& path);
    void SetRotatePixmap(const QString& path);
    void SetInterval(int ms) { interval_ = ms; }
    // Restarts the timer with the interval.
    void Start();
    void Stop();
    bool isRunning() const { return timer_.isActive(); }

    // The shared angle in degrees, 0 to below 360.
    static double angle();
    static void resetAngle();

public slots:
    void Step();

private:
    QPixmap LoadScaled(const QString& path) const;

    QPixmap rotatePixmap_;
    QPixmap backgroundPixmap_;
    QTimer timer_;
    int interval_ = kDefaultIntervalMs;
};
