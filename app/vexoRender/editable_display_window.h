// The display window that tells its owner when the view appears and when
// the window changes size.
#pragma once

#include "display_window.h"
#include "vexo/gs_view.h"

class EditableDisplayWindow : public DisplayWindow<GsViewImpl> {
    Q_OBJECT

public:
    explicit EditableDisplayWindow(QWidget* parent = nullptr);

    // Emits ViewCreated when the base made the view now; always true.
    bool AttachRender() override;

signals:
    void ViewCreated();
    void ViewResized();

protected:
    void resizeEvent(QResizeEvent* event) override;
};
