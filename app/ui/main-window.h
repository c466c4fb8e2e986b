// The main window: a frameless top-level window that ZuCam creates at start
// and deletes at shutdown. This is its smallest form (a title bar and an
// empty body); the full window with the stream set-up replaces it.
#pragma once

#include <QWidget>

#include "core/frameless/frameless_helper.h"

class QLabel;

class MainWindow : public QWidget, public ResizeInterface {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // ResizeInterface: edges within kBorder pixels, the caption is the
    // title bar. Screen coordinates.
    bool isTopEdge(int x, int y) override;
    bool isBottomEdge(int x, int y) override;
    bool isLeftEdge(int x, int y) override;
    bool isRightEdge(int x, int y) override;
    bool isCaption(int x, int y) override;

    int lastVolume() const { return lastVolume_; }
    static constexpr int kBorder = 5;

public slots:
    // The virtual microphone's level, 0 to 10 (GUI thread, queued by ZuCam).
    void UpdateVolumn(int level);

private:
    QWidget* title_ = nullptr;
    int lastVolume_ = 0;
};
