// The Qt application object the data source creates while its user interface is shown. An exception
// that escapes an event handler is logged with the call stack and the event counts as handled, so
// the host application's process keeps running.
#pragma once

#include <QtWidgets/QApplication>

class MyApplication : public QApplication {
    Q_OBJECT

public:
    MyApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};
