#pragma once

#include <QAction>
#include <QLabel>
#include <QString>

// The window's controls stand at fixed places and carry their names as object names, so that
// tests and tools find them.
namespace zqn::ui {

template <typename Widget>
Widget* place(Widget* widget, const char* name, int left, int top, int width, int height)
{
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(left, top, width, height);
    return widget;
}

inline QLabel* addLabel(QWidget* parent, const char* name, const QString& text, int left, int top)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->move(left, top);
    label->adjustSize();
    return label;
}

// Actions, too, are found by their names.
inline QAction* makeAction(QObject* parent, const char* name, const QString& text)
{
    auto* action = new QAction(text, parent);
    action->setObjectName(QLatin1String(name));
    return action;
}

} // namespace zqn::ui
