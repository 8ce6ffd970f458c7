// RightClickFilter: keeps right clicks out of every web view of the program
// (the main window's pane and the popup window's page). Installed once on the
// application, it drops right-button presses, releases and double clicks and
// the context-menu requests they raise before they reach a web view or the
// widgets inside it, so the page sees no right-button event and no context
// menu opens. Every other input passes; a left click follows links as usual.
#pragma once

#include <QObject>

namespace nebrin {

class RightClickFilter : public QObject {
    Q_OBJECT
public:
    explicit RightClickFilter(QObject* parent = nullptr) : QObject(parent) {}

    // Creates a filter owned by `owner` and installs it on the application.
    static RightClickFilter* Install(QObject* owner);

    // True for an object that is a web view or lies inside one.
    static bool InWebView(const QObject* object);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace nebrin
