// The Qt widgets behind the controls: one factory per kind, and the texts
// and icons they show.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include "ui/framework.h"

namespace ui::detail {

// Creates a control window. With self null the framework owns an object of
// the control's class (a template control nobody has bound yet).
HWND createControl(CWnd* self, ControlKind kind, const char* text, DWORD style, const RECT& rect,
                   CWnd* parent, int id);

QWidget* createListWidget(HWND self, DWORD style, QWidget* parent);
QWidget* createComboWidget(HWND self, DWORD style, QWidget* parent);
QWidget* createEditWidget(HWND self, DWORD style, QWidget* parent);
QWidget* createButtonWidget(HWND self, DWORD style, const QString& text, QWidget* parent);
QWidget* createStaticWidget(HWND self, DWORD style, const QString& text, QWidget* parent);

// Texts of control widgets, as Unicode.
QString widgetText(HWND hWnd);
void setWidgetText(HWND hWnd, const QString& text);
void setStaticIcon(HWND hWnd, HICON icon);
// How a static text control draws: the text handed to the painter and the
// flags it is drawn with in the control's rectangle.
struct StaticText {
    QString text;
    int flags = 0;
};
bool staticText(const QWidget* widget, StaticText* drawn);  // false for other widgets
// Names each edit, combo box and list of a dialog by its label, for screen
// readers.
void labelFields(HWND dialog);
// The colour a brush fills with; false for no brush and the hollow one.
bool brushFill(HBRUSH brush, QColor* color);

}  // namespace ui::detail
