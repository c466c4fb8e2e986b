// The window that carries the composition's view.
#pragma once

#include "editable_display_window.h"

class PreviewWindow : public EditableDisplayWindow {
    Q_OBJECT

public:
    explicit PreviewWindow(QWidget* parent = nullptr);
};
